#include "engine/effect_slots.h"

#include "ui/module_config.h"

EffectSnapshot g_effectSnapshot;
SlotPosition g_lastPosition;
const char kEmptyEffectName[] = "";

void SaveEffectSlots() {
  EffectSlot* head = EffectSlotHead(CacheCurrentAircraft());
  // While a restore is pending for this chain its slots may hold our jumper
  // settings; the first snapshot has the aircraft's own and must survive.
  bool keepSnapshot = g_effectSnapshot.restorePending && head == g_effectSnapshot.head;
  if (!keepSnapshot) {
    int saved = 0;
    for (EffectSlot* slot = head; slot && saved < kManagedSlots; slot = slot->next, ++saved) {
      EffectSnapshotEntry& entry = g_effectSnapshot.entries[saved];
      entry.x = slot->x;
      entry.y = slot->y;
      entry.z = slot->z;
      entry.name = slot->name;
    }
    g_effectSnapshot.head = head;
    g_effectSnapshot.savedCount = saved;
    g_effectSnapshot.restorePending = saved > 0;
  }
  FireEvent(kEffectsRefreshEvent, 1);
}

void RestoreEffectSlots() {
  EffectSlot* head = EffectSlotHead(CacheCurrentAircraft());
  // The snapshot holds another chain's name pointers once the aircraft has
  // changed: writing them here would corrupt the new aircraft.
  if (!g_effectSnapshot.restorePending || head != g_effectSnapshot.head) return;
  int restored = 0;
  for (EffectSlot* slot = head; slot && restored < g_effectSnapshot.savedCount; slot = slot->next, ++restored) {
    const EffectSnapshotEntry& entry = g_effectSnapshot.entries[restored];
    slot->x = entry.x;
    slot->y = entry.y;
    slot->z = entry.z;
    slot->name = entry.name;
  }
  g_effectSnapshot.restorePending = false;
}

static void SilenceSlot(EffectSlot* slot) {
  slot->x = 0.0;
  slot->y = 0.0;
  slot->z = 0.0;
  slot->name = kEmptyEffectName;
}

void ProgramEffectSlots(const char* section, StreamCount streams) {
  EffectSlot* first = EffectSlotHead(CacheCurrentAircraft());
  ReadConfigText(section, kKeyEffectName);
  // Each coordinate goes into the slot before the next key is read.
  g_lastPosition.x = ReadConfigInteger(section, kKeyPositionX);
  if (first) first->x = g_lastPosition.x;
  g_lastPosition.y = ReadConfigInteger(section, kKeyPositionY);
  if (first) first->y = g_lastPosition.y;
  g_lastPosition.z = ReadConfigInteger(section, kKeyPositionZ);
  if (first) first->z = g_lastPosition.z;
  // No emitters, nothing changed: the simulator has nothing to act on.
  if (!first) return;
  // Another dialog's drop may already have given this chain back; the snapshot
  // still holds its own values, so the next end must restore them again.
  if (first == g_effectSnapshot.head && g_effectSnapshot.savedCount > 0) g_effectSnapshot.restorePending = true;
  first->name = EffectNameBuffer();

  EffectSlot* slot = first->next;
  for (int position = 2; slot && position <= kManagedSlots; slot = slot->next, ++position) {
    if (position == 2 && streams == kTwoStreams) {
      // The second stream leaves from the mirrored door.
      slot->x = -g_lastPosition.x;
      slot->y = g_lastPosition.y;
      slot->z = g_lastPosition.z;
      slot->name = EffectNameBuffer();
    } else {
      SilenceSlot(slot);
    }
  }
  FireEvent(kEffectsProgrammedEvent, 1);
  FireEvent(kEffectsRefreshEvent, 1);
}
