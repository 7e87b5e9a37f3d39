#include "engine/effect_slots.h"

#include "ui/module_config.h"

EffectSnapshot g_effectSnapshot;
// The last position read from the configuration; the second stream mirrors it.
struct SlotPosition {
  double x;
  double y;
  double z;
};
static SlotPosition g_lastPosition;
const char kEmptyEffectName[] = "";

// A chain is walked to its end when giving back; a cycle in a broken chain
// must not hang the simulator.
static const int kLongestChain = 256;

// A slot is the module's exactly while its name is one of the module's own strings.
static bool IsModuleEffectName(const char* name) {
  return name == kEmptyEffectName || name == EffectNameBuffer();
}

static EffectSnapshotEntry* FindEntry(const EffectSlot* slot) {
  for (int i = 0; i < kSnapshotEntries; ++i) {
    if (g_effectSnapshot.entries[i].slot == slot) return &g_effectSnapshot.entries[i];
  }
  return NULL;
}

static void FreeEntry(EffectSnapshotEntry* entry) {
  entry->slot = NULL;
  --g_effectSnapshot.held;
}

// Compares addresses only: a slot of another chain may have been freed.
static bool InChain(const EffectSlot* head, const EffectSlot* wanted) {
  const EffectSlot* slot = head;
  for (int walked = 0; slot && walked < kLongestChain; slot = slot->next, ++walked) {
    if (slot == wanted) return true;
  }
  return false;
}

// An entry to save into: a free one, else one whose slot is not in the current
// chain (that aircraft was left mid-drop and may never come back).
static EffectSnapshotEntry* EntryToFill(const EffectSlot* head) {
  EffectSnapshotEntry* entry = FindEntry(NULL);
  if (entry) {
    ++g_effectSnapshot.held;
    return entry;
  }
  for (int i = 0; i < kSnapshotEntries; ++i) {
    if (!InChain(head, g_effectSnapshot.entries[i].slot)) return &g_effectSnapshot.entries[i];
  }
  return NULL;
}

// Makes `slot` the module's to write: a slot that carries the simulator's own
// values (a new chain, an appended slot, a reused block) has them saved first.
// False when they could not be saved; such a slot is left alone.
static bool ClaimSlot(const EffectSlot* head, EffectSlot* slot) {
  if (IsModuleEffectName(slot->name)) return true;
  EffectSnapshotEntry* entry = FindEntry(slot);
  if (!entry) entry = EntryToFill(head);
  if (!entry) return false;
  entry->slot = slot;
  entry->x = slot->x;
  entry->y = slot->y;
  entry->z = slot->z;
  entry->name = slot->name;
  return true;
}

void RefreshEffectSlots() {
  // The aircraft's own values are saved slot by slot just before the first
  // write, so they are those of that moment, not of the load.
  CacheCurrentAircraft();
  FireEvent(kEffectsRefreshEvent, 1);
}

void RestoreEffectSlots() {
  EffectSlot* slot = EffectSlotHead(CacheCurrentAircraft());
  for (int walked = 0; slot && walked < kLongestChain && g_effectSnapshot.held > 0; slot = slot->next, ++walked) {
    EffectSnapshotEntry* entry = FindEntry(slot);
    if (!entry) continue;
    // A slot the simulator has set again with names of its own is its own again.
    if (IsModuleEffectName(slot->name)) {
      slot->x = entry->x;
      slot->y = entry->y;
      slot->z = entry->z;
      slot->name = entry->name;
    }
    FreeEntry(entry);
  }
}

static void SilenceSlot(EffectSlot* slot) {
  slot->x = 0.0;
  slot->y = 0.0;
  slot->z = 0.0;
  slot->name = kEmptyEffectName;
}

void ProgramEffectSlots(const char* section, StreamCount streams) {
  EffectSlot* head = EffectSlotHead(CacheCurrentAircraft());
  EffectSlot* writable[kManagedSlots] = {NULL, NULL, NULL, NULL};
  EffectSlot* slot = head;
  for (int position = 0; slot && position < kManagedSlots; slot = slot->next, ++position) {
    if (ClaimSlot(head, slot)) writable[position] = slot;
  }
  EffectSlot* first = writable[0];
  // The engine reads the aircraft's section through ui/, which owns the file;
  // the buffer it fills is the name the programmed slots will carry.
  const char* effectName = ReadEffectName(section);
  // Each coordinate goes into the slot before the next key is read.
  g_lastPosition.x = ReadConfigInteger(section, kKeyPositionX);
  if (first) first->x = g_lastPosition.x;
  g_lastPosition.y = ReadConfigInteger(section, kKeyPositionY);
  if (first) first->y = g_lastPosition.y;
  g_lastPosition.z = ReadConfigInteger(section, kKeyPositionZ);
  if (first) first->z = g_lastPosition.z;
  // No emitters, nothing changed: the simulator has nothing to act on.
  if (!head) return;
  if (first) first->name = effectName;

  for (int position = 1; position < kManagedSlots; ++position) {
    EffectSlot* other = writable[position];
    if (!other) continue;
    if (position == 1 && streams == kTwoStreams) {
      // The second stream leaves from the mirrored door.
      other->x = -g_lastPosition.x;
      other->y = g_lastPosition.y;
      other->z = g_lastPosition.z;
      other->name = effectName;
    } else {
      SilenceSlot(other);
    }
  }
  FireEvent(kEffectsProgrammedEvent, 1);
  FireEvent(kEffectsRefreshEvent, 1);
}
