// The real module with jumpers on the aircraft's emitters, and what the
// simulator must find in them once a drop has ended or its window has closed.
// Once it has hooked the window the module stays in the process: FreeLibrary
// changes nothing, and the emitters come back at the end of a drop or as the
// simulator's window takes the module's dialogs with it.
#pragma once

#include <vector>

#include "tests/fixtures.h"

class EmitterGiveBackTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    imageSize_ = SimImageSize(module_);
  }
  void LoadVisualised() {
    SimWriteConfig("[an22]\r\neffect_name=fx\r\nposition_x=4\r\n[user]\r\neffect_name=fx\r\n");
    OpenAndLoad("АН-22", true);
  }
  void StartVisualisedDrop() {
    LoadVisualised();
    PressDrop();
  }
  // From the simulator's side: the current aircraft's slots hold their own
  // values and none names the module's memory. The module walks no chain
  // past its 256th slot, so slots there hold what NoteSlotsPastTheWalk saw.
  void ExpectEmittersGivenBack(const char* when) {
    SCOPED_TRACE(when);
    SimAircraft* current = SimCurrentAircraft();
    for (int position = 1; position <= current->slotCount; ++position) {
      if (position > kWalkedSlots && !pastTheWalk_.empty()) {
        const EffectSlot& seen = pastTheWalk_[position - kWalkedSlots - 1];
        const EffectSlot* slot = current->slots[position - 1];
        EXPECT_TRUE(slot->x == seen.x && slot->y == seen.y && slot->z == seen.z && slot->name == seen.name &&
                    slot->next == seen.next)
            << "slot " << position << " written";
        continue;
      }
      EXPECT_TRUE(SimSlotIsOriginal(current, position)) << "slot " << position;
      EXPECT_FALSE(SimPointsInto(current->slots[position - 1]->name, module_, imageSize_)) << "slot " << position;
    }
  }
  void NoteSlotsPastTheWalk() {
    SimAircraft* current = SimCurrentAircraft();
    pastTheWalk_.clear();
    for (int position = kWalkedSlots + 1; position <= current->slotCount; ++position)
      pastTheWalk_.push_back(*current->slots[position - 1]);
  }
  // The module stays mapped and asks the simulator nothing.
  void FreeLibraryChangesNothing() {
    SimClearLog();
    SimFreeLibrary();
    EXPECT_TRUE(SimModuleResident(module_)) << "FreeLibrary unmapped a module the simulator's window leads into";
    EXPECT_TRUE(SimLog().empty()) << "FreeLibrary called " << SimOpName(SimLog().front().op);
  }
  static const int kWalkedSlots = 256;
  size_t imageSize_ = 0;
  std::vector<EffectSlot> pastTheWalk_;
};
