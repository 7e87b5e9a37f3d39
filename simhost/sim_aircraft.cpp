// Aircraft records with their effect-slot chains, laid out as the simulator
// lays them out, so the module reaches the slots only through the raw record.
#include "simhost/sim_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>

namespace {

// The simulator's slot record is longer than the part the module knows. The
// bytes past it carry a pattern, so a module writing past its fields shows up.
const size_t kSlotBlockSize = 96;
const size_t kSlotNameSize = 32;

struct NameBuffer {
  char text[kSlotNameSize];
};

// The public record plus the text each slot's own name must still hold.
struct AircraftBlock {
  SimAircraft aircraft;  // the part tests see
  char expected[kSimMaxSlots][kSlotNameSize];
};

std::vector<AircraftBlock*> g_aircraft;
// Names are never freed before a reset, so a name pointer given back from an
// earlier emitter can never look like the current one's.
std::deque<NameBuffer> g_names;
// Freed slot blocks, reused last freed first, as allocators reuse same-size blocks.
std::vector<EffectSlot*> g_freeBlocks;
SimAircraft* g_current = NULL;
int g_settings = 0;  // numbers every setting of a slot, so all values are distinct

BYTE GuardByte(size_t offset) { return static_cast<BYTE>(0xA5 ^ (offset * 7)); }

EffectSlot* NewBlock(bool reuse) {
  BYTE* block;
  if (reuse && !g_freeBlocks.empty()) {
    block = reinterpret_cast<BYTE*>(g_freeBlocks.back());
    g_freeBlocks.pop_back();
    memset(block, 0, sizeof(EffectSlot));
  } else {
    block = static_cast<BYTE*>(calloc(1, kSlotBlockSize));
  }
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

AircraftBlock* FindBlock(const SimAircraft* aircraft) {
  for (AircraftBlock* block : g_aircraft) {
    if (&block->aircraft == aircraft) return block;
  }
  return NULL;
}

// New own values for slot `i`: position and a name of the simulator's own.
void SetOwnValues(AircraftBlock* block, int i) {
  const int setting = ++g_settings;
  const int position = i + 1;
  EffectSlot* slot = block->aircraft.slots[i];
  g_names.emplace_back();
  snprintf(g_names.back().text, kSlotNameSize, "sim-effect-%d-%d", setting, position);
  memcpy(block->expected[i], g_names.back().text, kSlotNameSize);
  slot->x = 100.0 * setting + position + 0.25;
  slot->y = -static_cast<double>(position) - 0.5 - setting;
  slot->z = 2.0 * position + setting;
  slot->name = g_names.back().text;
  slot->reserved = 0xC0FFEE00 + position;
  block->aircraft.originals[i] = *slot;
}

// Chains the slots in order and points the record's head at the first.
void LinkChain(SimAircraft& aircraft) {
  for (int i = 0; i < aircraft.slotCount; ++i) {
    aircraft.slots[i]->next = i + 1 < aircraft.slotCount ? aircraft.slots[i + 1] : NULL;
    aircraft.originals[i].next = aircraft.slots[i]->next;
  }
  EffectSlot* head = aircraft.slotCount > 0 ? aircraft.slots[0] : NULL;
  // The head pointer sits at an odd offset, as in the simulator's block.
  memcpy(aircraft.data->bytes + kEffectSlotHeadOffset, &head, sizeof(head));
}

void AddSlots(AircraftBlock* block, int count, bool reuse) {
  SimAircraft& aircraft = block->aircraft;
  for (int added = 0; added < count && aircraft.slotCount < kSimMaxSlots; ++added) {
    const int i = aircraft.slotCount++;
    aircraft.slots[i] = NewBlock(reuse);
    SetOwnValues(block, i);
  }
  LinkChain(aircraft);
}

void FreeSlots(SimAircraft& aircraft) {
  // Last slot first, so reusing them hands the blocks out in chain order again.
  for (int i = aircraft.slotCount - 1; i >= 0; --i) g_freeBlocks.push_back(aircraft.slots[i]);
  aircraft.slotCount = 0;
  LinkChain(aircraft);
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
  AircraftBlock* block = new AircraftBlock();  // value-initialised: all zero
  SimAircraft& aircraft = block->aircraft;
  aircraft.variable87 = variable87;
  aircraft.data = static_cast<AircraftData*>(calloc(1, sizeof(AircraftData)));
  aircraft.record = static_cast<AircraftRecord*>(calloc(1, sizeof(AircraftRecord)));
  aircraft.record->data = aircraft.data;
  aircraft.record->stateFlag = stateFlag;
  AddSlots(block, slotCount, true);
  g_aircraft.push_back(block);
  return &aircraft;
}

void SimSetCurrentAircraft(SimAircraft* aircraft) { g_current = aircraft; }

SimAircraft* SimCurrentAircraft() { return g_current; }

bool SimSlotIsOriginal(const SimAircraft* aircraft, int position) {
  if (aircraft == NULL || position < 1 || position > aircraft->slotCount) return false;
  const AircraftBlock* block = FindBlock(aircraft);
  if (block == NULL) return false;
  const EffectSlot* slot = aircraft->slots[position - 1];
  const EffectSlot& original = aircraft->originals[position - 1];
  // The name text too: a module writing into the simulator's string is as wrong
  // as one replacing the pointer.
  return SameDouble(slot->x, original.x) && SameDouble(slot->y, original.y) && SameDouble(slot->z, original.z) &&
         slot->name == original.name && strcmp(original.name, block->expected[position - 1]) == 0 &&
         slot->reserved == original.reserved && slot->next == original.next && GuardIntact(slot);
}

void SimFreeEmitters(SimAircraft* aircraft) {
  if (FindBlock(aircraft)) FreeSlots(*aircraft);
}

void SimReplaceEmitters(SimAircraft* aircraft, int slotCount, bool sameBlocks) {
  AircraftBlock* block = FindBlock(aircraft);
  if (!block) return;
  if (sameBlocks) {
    FreeSlots(*aircraft);
    AddSlots(block, slotCount, true);
    return;
  }
  std::vector<EffectSlot*> old(aircraft->slots, aircraft->slots + aircraft->slotCount);
  aircraft->slotCount = 0;
  AddSlots(block, slotCount, false);
  for (size_t i = old.size(); i-- > 0;) g_freeBlocks.push_back(old[i]);
}

void SimAppendSlots(SimAircraft* aircraft, int count) {
  AircraftBlock* block = FindBlock(aircraft);
  if (block) AddSlots(block, count, true);
}

void SimPrependSlots(SimAircraft* aircraft, int count) {
  AircraftBlock* block = FindBlock(aircraft);
  if (!block) return;
  if (count > kSimMaxSlots - aircraft->slotCount) count = kSimMaxSlots - aircraft->slotCount;
  if (count <= 0) return;
  const int moved = aircraft->slotCount;
  memmove(aircraft->slots + count, aircraft->slots, moved * sizeof(aircraft->slots[0]));
  memmove(aircraft->originals + count, aircraft->originals, moved * sizeof(aircraft->originals[0]));
  memmove(block->expected + count, block->expected, moved * sizeof(block->expected[0]));
  aircraft->slotCount += count;
  for (int i = 0; i < count; ++i) {
    aircraft->slots[i] = NewBlock(true);
    SetOwnValues(block, i);
  }
  LinkChain(*aircraft);
}

void SimLoopChain(SimAircraft* aircraft, int position) {
  if (!FindBlock(aircraft) || position < 1 || position > aircraft->slotCount) return;
  const int last = aircraft->slotCount - 1;
  aircraft->slots[last]->next = aircraft->slots[position - 1];
  aircraft->originals[last].next = aircraft->slots[position - 1];
}

void SimChangeSlot(SimAircraft* aircraft, int position, bool newName) {
  AircraftBlock* block = FindBlock(aircraft);
  if (!block || position < 1 || position > aircraft->slotCount) return;
  const int i = position - 1;
  if (newName) {
    SetOwnValues(block, i);
    return;
  }
  EffectSlot* slot = aircraft->slots[i];
  const int setting = ++g_settings;
  slot->x = 100.0 * setting + 0.5;
  slot->y = 7.0 + setting;
  slot->z = -3.0 - setting;
  // Still under its own name, these are its own values now; under someone
  // else's name the values it had under its own stay its own.
  if (slot->name == aircraft->originals[i].name) {
    aircraft->originals[i].x = slot->x;
    aircraft->originals[i].y = slot->y;
    aircraft->originals[i].z = slot->z;
  }
}

size_t SimImageSize(HMODULE module) {
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  if (module == NULL || dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
  const IMAGE_NT_HEADERS* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
  return nt->Signature == IMAGE_NT_SIGNATURE ? nt->OptionalHeader.SizeOfImage : 0;
}

bool SimPointsInto(const void* pointer, HMODULE module, size_t imageSize) {
  const BYTE* base = reinterpret_cast<const BYTE*>(module);
  const BYTE* at = static_cast<const BYTE*>(pointer);
  return module != NULL && at >= base && at < base + imageSize;
}

void SimResetAircraft() {
  for (AircraftBlock* block : g_aircraft) FreeAircraft(block);
  g_aircraft.clear();
  for (EffectSlot* slot : g_freeBlocks) free(slot);
  g_freeBlocks.clear();
  g_names.clear();
  g_current = NULL;
  g_settings = 0;
}
