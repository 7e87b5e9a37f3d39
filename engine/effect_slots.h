// The aircraft's effect emitters: saved when the aircraft is loaded,
// reprogrammed to show jumpers on every drop step, given back at the end.
#pragma once

#include "engine/drop_state.h"
#include "host/host_services.h"

// Only the first slots of the chain are the module's to change.
const int kManagedSlots = 4;

// Events that make the simulator act on reprogrammed slots.
const DWORD kEffectsProgrammedEvent = 0x10201;
const DWORD kEffectsRefreshEvent = 0x10202;

struct EffectSnapshotEntry {
  double x;
  double y;
  double z;
  const char* name;  // the simulator's own name pointer
};

struct EffectSnapshot {
  EffectSnapshotEntry entries[kManagedSlots];
  EffectSlot* head;     // the chain the entries were taken from
  int savedCount;       // entries taken at the last save
  bool restorePending;  // saved and not yet given back
};

extern EffectSnapshot g_effectSnapshot;

// Last position read from the configuration; the second stream mirrors it.
struct SlotPosition {
  double x;
  double y;
  double z;
};
extern SlotPosition g_lastPosition;

// Never null: silenced slots point at this.
extern const char kEmptyEffectName[];

void SaveEffectSlots();
void RestoreEffectSlots();
void ProgramEffectSlots(const char* section, StreamCount streams);
