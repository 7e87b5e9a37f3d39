// The aircraft's effect emitters: reprogrammed to show jumpers on every drop
// step, and given back at the end of the drop and when a dialog goes while no
// other runs a drop (the simulator closing its window destroys them all).
//
// The simulator owns the emitters and may swap, free, reuse or grow its slot
// chains at any moment. A slot is taken to be the module's exactly while its
// name points at one of the module's own strings; just before the module first
// writes a slot that is not its own, it saves that slot's values, keyed by the
// slot's address, and giving back writes them into every slot of the current
// chain that still carries the module's strings.
#pragma once

#include "engine/drop_state.h"
#include "host/host_services.h"

// Only the first slots of the chain are the module's to change.
const int kManagedSlots = 4;

// Events that make the simulator act on reprogrammed slots.
const DWORD kEffectsProgrammedEvent = 0x10201;
const DWORD kEffectsRefreshEvent = 0x10202;

// Saved slots the module can hold at once: four per chain, with room for
// chains the pilot left mid-drop.
const int kSnapshotEntries = 16;

struct EffectSnapshotEntry {
  EffectSlot* slot;  // the slot these values belong to; null when the entry is free
  double x;
  double y;
  double z;
  const char* name;  // the simulator's own name pointer
};

struct EffectSnapshot {
  EffectSnapshotEntry entries[kSnapshotEntries];
  int held;  // entries in use: slots written and not yet given back
};

extern EffectSnapshot g_effectSnapshot;


// Never null: silenced slots point at this.
extern const char kEmptyEffectName[];

// The load button: the simulator is told to look at the aircraft's emitters.
void RefreshEffectSlots();
// Writes its own values back into every slot of the current chain that still
// carries the module's strings.
void RestoreEffectSlots();
void ProgramEffectSlots(const char* section, StreamCount streams);
