// Aircraft records with their effect-slot chains, laid out as the simulator
// lays them out, so the module reaches the slots only through the raw record.
#include "simhost/sim_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The simulator's slot record is longer than the part the module knows. The
// bytes past it carry a pattern, so a module writing past its fields shows up.
const size_t kSlotBlockSize = 96;
const size_t kSlotNameSize = 32;

// The public record plus the slot names it points at; the simulator owns both.
struct AircraftBlock {
  SimAircraft aircraft;  // the part tests see
  int number;
  char names[kSimMaxSlots][kSlotNameSize];
};

std::vector<AircraftBlock*> g_aircraft;
SimAircraft* g_current = NULL;
int g_created = 0;  // numbers aircraft from 1 so each slot's values are distinct

void FormatSlotName(char* out, int number, int position) {
  snprintf(out, kSlotNameSize, "sim-effect-%d-%d", number, position);
}

BYTE GuardByte(size_t offset) { return static_cast<BYTE>(0xA5 ^ (offset * 7)); }

EffectSlot* NewSlot() {
  BYTE* block = static_cast<BYTE*>(calloc(1, kSlotBlockSize));
  for (size_t offset = sizeof(EffectSlot); offset < kSlotBlockSize; ++offset) block[offset] = GuardByte(offset);
  return reinterpret_cast<EffectSlot*>(block);
}

bool GuardIntact(const EffectSlot* slot) {
  const BYTE* block = reinterpret_cast<const BYTE*>(slot);
  for (size_t offset = sizeof(EffectSlot); offset < kSlotBlockSize; ++offset) {
    if (block[offset] != GuardByte(offset)) return false;
  }
  return true;
}

// Bitwise, so -0.0 against 0.0 or a NaN pattern counts as a change.
bool SameDouble(double a, double b) { return memcmp(&a, &b, sizeof(double)) == 0; }

// Only aircraft made here (and not yet freed) have slots to check.
const AircraftBlock* FindBlock(const SimAircraft* aircraft) {
  for (const AircraftBlock* block : g_aircraft) {
    if (&block->aircraft == aircraft) return block;
  }
  return NULL;
}

void FreeAircraft(AircraftBlock* block) {
  SimAircraft& aircraft = block->aircraft;
  for (int i = 0; i < aircraft.slotCount; ++i) free(aircraft.slots[i]);
  free(aircraft.data);
  free(aircraft.record);
  delete block;
}

}  // namespace

SimAircraft* SimAddAircraft(int slotCount, BYTE stateFlag, double variable87) {
  if (slotCount < 0) slotCount = 0;
  if (slotCount > kSimMaxSlots) slotCount = kSimMaxSlots;
  const int number = ++g_created;

  AircraftBlock* block = new AircraftBlock();  // value-initialised: all zero
  block->number = number;
  SimAircraft& aircraft = block->aircraft;
  aircraft.slotCount = slotCount;
  aircraft.variable87 = variable87;

  for (int i = 0; i < slotCount; ++i) {
    const int position = i + 1;
    FormatSlotName(block->names[i], number, position);
    EffectSlot* slot = NewSlot();
    slot->x = 100.0 * number + position + 0.25;
    slot->y = -static_cast<double>(position) - 0.5;
    slot->z = 2.0 * position;
    slot->name = block->names[i];
    slot->reserved = 0xC0FFEE00 + position;
    slot->next = NULL;
    if (i > 0) aircraft.slots[i - 1]->next = slot;
    aircraft.slots[i] = slot;
  }
  for (int i = 0; i < slotCount; ++i) aircraft.originals[i] = *aircraft.slots[i];

  aircraft.data = static_cast<AircraftData*>(calloc(1, sizeof(AircraftData)));
  EffectSlot* head = slotCount > 0 ? aircraft.slots[0] : NULL;
  // The head pointer sits at an odd offset, as in the simulator's block.
  memcpy(aircraft.data->bytes + kEffectSlotHeadOffset, &head, sizeof(head));

  aircraft.record = static_cast<AircraftRecord*>(calloc(1, sizeof(AircraftRecord)));
  aircraft.record->data = aircraft.data;
  aircraft.record->stateFlag = stateFlag;

  g_aircraft.push_back(block);
  return &aircraft;
}

void SimSetCurrentAircraft(SimAircraft* aircraft) { g_current = aircraft; }

SimAircraft* SimCurrentAircraft() { return g_current; }

bool SimSlotIsOriginal(const SimAircraft* aircraft, int position) {
  if (aircraft == NULL || position < 1 || position > aircraft->slotCount) return false;
  const EffectSlot* slot = aircraft->slots[position - 1];
  const EffectSlot& original = aircraft->originals[position - 1];
  // The name text too: a module writing into the simulator's string is as wrong
  // as one replacing the pointer.
  const AircraftBlock* block = FindBlock(aircraft);
  if (block == NULL) return false;
  char expectedName[kSlotNameSize];
  FormatSlotName(expectedName, block->number, position);
  return SameDouble(slot->x, original.x) && SameDouble(slot->y, original.y) && SameDouble(slot->z, original.z) &&
         slot->name == original.name && strcmp(original.name, expectedName) == 0 &&
         slot->reserved == original.reserved && slot->next == original.next && GuardIntact(slot);
}

void SimResetAircraft() {
  for (AircraftBlock* block : g_aircraft) FreeAircraft(block);
  g_aircraft.clear();
  g_current = NULL;
  g_created = 0;
}
