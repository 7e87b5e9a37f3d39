// Saving, programming and restoring the aircraft's effect emitters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/effect_slots.h"
#include "tests/fixtures.h"
#include "ui/module_config.h"

class EffectSlotsTest : public CoreTest {
 protected:
  void UseAircraft(int slots) {
    aircraft_ = SimAddAircraft(slots);
    SimSetCurrentAircraft(aircraft_);
  }
  EffectSlot* Slot(int position) { return aircraft_->slots[position - 1]; }
  void ExpectSlot(int position, double x, double y, double z, const char* name) {
    SCOPED_TRACE("slot " + std::to_string(position));
    EXPECT_EQ(x, Slot(position)->x);
    EXPECT_EQ(y, Slot(position)->y);
    EXPECT_EQ(z, Slot(position)->z);
    EXPECT_EQ(name, Slot(position)->name);
  }
  void ExpectOriginal(int from, int to) {
    for (int position = from; position <= to; ++position)
      EXPECT_TRUE(SimSlotIsOriginal(aircraft_, position)) << "slot " << position;
  }
  std::vector<DWORD> Events() {
    std::vector<DWORD> events;
    for (const SimCall& call : SimLog())
      if (call.op == kSimFireEvent) events.push_back(call.args[0]);
    return events;
  }
  static constexpr const char* kAn22 = "[an22]\r\neffect_name=fx_jumper\r\nposition_x=3\r\nposition_y=1\r\nposition_z=0\r\n";
};

TEST_F(EffectSlotsTest, TwoStreamsMirrorTheDoorAndSilenceSlotsThreeAndFour) {
  UseAircraft(6);
  SimWriteConfig(kAn22);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);

  ExpectSlot(1, 3.0, 1.0, 0.0, EffectNameBuffer());
  ExpectSlot(2, -3.0, 1.0, 0.0, EffectNameBuffer());
  EXPECT_STREQ("fx_jumper", Slot(1)->name);
  ExpectSlot(3, 0.0, 0.0, 0.0, kEmptyEffectName);
  ExpectSlot(4, 0.0, 0.0, 0.0, kEmptyEffectName);
  EXPECT_STREQ("", Slot(3)->name);
  ExpectOriginal(5, 6);  // beyond the fourth: never touched
  EXPECT_EQ((std::vector<DWORD>{0x10202, 0x10201, 0x10202}), Events());

  RestoreEffectSlots();
  ExpectOriginal(1, 6);
  EXPECT_EQ(3u, Events().size()) << "restoring fires no event";
}

TEST_F(EffectSlotsTest, OneStreamSilencesSlotsTwoToFour) {
  SimWriteConfig("[mi8]\r\neffect_name=fx_mi8\r\nposition_x=-2\r\nposition_y=4\r\nposition_z=7\r\n");
  RefreshEffectSlots();
  ProgramEffectSlots("mi8", kOneStream);
  ExpectSlot(1, -2.0, 4.0, 7.0, EffectNameBuffer());
  for (int position = 2; position <= 4; ++position) ExpectSlot(position, 0.0, 0.0, 0.0, kEmptyEffectName);
  RestoreEffectSlots();
  ExpectOriginal(1, 4);
}

TEST_F(EffectSlotsTest, OneSlotAircraftHasOnlyItsFirstSlotTouched) {
  UseAircraft(1);
  SimWriteConfig(kAn22);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);
  ExpectSlot(1, 3.0, 1.0, 0.0, EffectNameBuffer());
  EXPECT_TRUE(Slot(1)->next == nullptr);
  EXPECT_EQ(1, g_effectSnapshot.held);
  RestoreEffectSlots();
  ExpectOriginal(1, 1);
  EXPECT_EQ(0, g_effectSnapshot.held);
}

TEST_F(EffectSlotsTest, MissingFileOrSectionGivesOriginAndAnEmptyConfiguredName) {
  for (const char* file : {"", "[other]\r\neffect_name=x\r\nposition_x=9\r\n"}) {
    SCOPED_TRACE(file);
    if (*file) SimWriteConfig(file);
    ProgramEffectSlots("user", kOneStream);
    ExpectSlot(1, 0.0, 0.0, 0.0, EffectNameBuffer());  // the buffer, not the static empty name
    EXPECT_STREQ("", Slot(1)->name);
  }
}

TEST_F(EffectSlotsTest, PositionsAreWholeNumbers) {
  SimWriteConfig("[an2]\r\nposition_x=1.5\r\nposition_y=-0.9\r\nposition_z=2e3\r\n");
  ProgramEffectSlots("an2", kOneStream);
  ExpectSlot(1, 1.0, 0.0, 2.0, EffectNameBuffer());
}

TEST_F(EffectSlotsTest, ChangedFileTakesEffectOnTheNextProgramming) {
  SimWriteConfig(kAn22);
  ProgramEffectSlots("an22", kTwoStreams);
  SimWriteConfig("[an22]\r\neffect_name=fx_other\r\nposition_x=8\r\n");
  ProgramEffectSlots("an22", kTwoStreams);
  ExpectSlot(2, -8.0, 0.0, 0.0, EffectNameBuffer());
  EXPECT_STREQ("fx_other", Slot(2)->name);
}

// Records slot 1's position each time a key is read, to see the write order.
static EffectSlot* g_watchedSlot;
static std::vector<std::string> g_readTrace;
static decltype(&GetPrivateProfileStringA) g_realProfileRead;
static DWORD WINAPI TracingProfileRead(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size,
                                       LPCSTR file) {
  g_readTrace.push_back(std::string(key) + "@" + std::to_string(static_cast<int>(g_watchedSlot->x)) + "," +
                        std::to_string(static_cast<int>(g_watchedSlot->y)));
  return g_realProfileRead(section, key, fallback, buffer, size, file);
}

TEST_F(EffectSlotsTest, EachCoordinateIsWrittenBeforeTheNextKeyIsRead) {
  SimWriteConfig(kAn22);
  g_watchedSlot = Slot(1);
  g_readTrace.clear();
  HMODULE self = GetModuleHandleA(NULL);
  ASSERT_TRUE(SimPatchImport(self, "KERNEL32.dll", "GetPrivateProfileStringA",
                             reinterpret_cast<void*>(TracingProfileRead), reinterpret_cast<void**>(&g_realProfileRead)));
  ProgramEffectSlots("an22", kTwoStreams);
  SimPatchImport(self, "KERNEL32.dll", "GetPrivateProfileStringA", reinterpret_cast<void*>(g_realProfileRead), nullptr);
  std::string x0 = std::to_string(static_cast<int>(aircraft_->originals[0].x));
  std::string y0 = std::to_string(static_cast<int>(aircraft_->originals[0].y));
  EXPECT_EQ((std::vector<std::string>{"effect_name@" + x0 + "," + y0, "position_x@" + x0 + "," + y0,
                                      "position_y@3," + y0, "position_z@3,1"}),
            g_readTrace);
}

TEST_F(EffectSlotsTest, AircraftWithoutSlotsIsNeverWrittenAndGetsNoProgrammingEvents) {
  UseAircraft(0);
  SimWriteConfig(kAn22);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);
  RestoreEffectSlots();
  EXPECT_EQ(std::vector<DWORD>{0x10202}, Events()) << "the load's refresh event fires in every case";
  EXPECT_EQ(3, SimCount(kSimCurrentAircraft));
}

TEST_F(EffectSlotsTest, SlotsNeverWrittenAreNeverGivenBack) {
  RefreshEffectSlots();  // a load without a drop
  SimChangeSlot(aircraft_, 1, false);  // the simulator sets its emitter afterwards
  RestoreEffectSlots();
  ExpectOriginal(1, 4);  // its new values: the load saved nothing
  for (int position = 1; position <= 4; ++position) EXPECT_TRUE(Slot(position)->name != nullptr);
}

TEST_F(EffectSlotsTest, RestoreLeavesAChainNoLongerCurrentUntilItIsCurrentAgain) {
  SimAircraft* programmed = aircraft_;
  SimWriteConfig(kAn22);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);
  UseAircraft(4);
  RestoreEffectSlots();
  ExpectOriginal(1, 4);  // the new aircraft never gets the old one's name pointers
  EXPECT_EQ(3.0, programmed->slots[0]->x) << "the abandoned chain is not written either";

  // Back on the programmed aircraft, its own settings still come home.
  SimSetCurrentAircraft(programmed);
  aircraft_ = programmed;
  RestoreEffectSlots();
  ExpectOriginal(1, 4);
}

TEST_F(EffectSlotsTest, LoadDuringADropSavesNothingAndTheOwnSettingsComeBack) {
  SimWriteConfig(kAn22);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);
  SimClearLog();
  RefreshEffectSlots();  // the pilot loads again mid-drop
  EXPECT_EQ(1, SimCount(kSimCurrentAircraft));
  EXPECT_EQ(std::vector<DWORD>{0x10202}, Events());
  ProgramEffectSlots("an22", kTwoStreams);
  RestoreEffectSlots();
  ExpectOriginal(1, 4);
}

TEST_F(EffectSlotsTest, AnotherAircraftsSlotsAreSavedAtTheirFirstWrite) {
  SimWriteConfig(kAn22);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);
  UseAircraft(2);
  RefreshEffectSlots();
  ProgramEffectSlots("an22", kTwoStreams);
  RestoreEffectSlots();
  ExpectOriginal(1, 2);
  // Written again after the give-back (another dialog's drop), then loaded:
  // the load saves nothing, so the jumper settings are never taken for the
  // aircraft's own.
  ProgramEffectSlots("an22", kTwoStreams);
  RefreshEffectSlots();
  RestoreEffectSlots();
  ExpectOriginal(1, 2);
}
