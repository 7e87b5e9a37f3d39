// The drop, tick by tick, and the loading gate.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/drop_sequencer.h"
#include "engine/drop_state.h"
#include "tests/expected_texts.h"
#include "tests/fixtures.h"

class DropTest : public SimulatorTest {
 protected:
  void StartPreset(const char* listText, bool visualise) {
    OpenAndLoad(listText, visualise);
    PressDrop();
  }
  void StartCustom(const char* count, const char* interval) {
    OpenAndLoadCustom(count, interval);
    PressDrop();
  }
  UINT DropPeriod() {
    const SimTimer* timer = SimFindTimer(dialog_, kDropTimerId);
    return timer ? timer->period : 0xDEADu;
  }
};

TEST_F(DropTest, An22WalkthroughStepsTwoAtATimeWithEmittersInStep) {
  SimWriteConfig("[an22]\r\neffect_name=fx_jumper\r\nposition_x=3\r\nposition_y=1\r\nposition_z=0\r\n");
  OpenAndLoad("АН-22", true);
  EXPECT_EQ(25500.0, LastLoad());
  PressDrop();
  EXPECT_EQ(700u, DropPeriod());
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  const SimCall* start = SimLast(kSimShowText);
  ASSERT_TRUE(start != nullptr);
  EXPECT_EQ(kStartMessageText, start->text);
  EXPECT_EQ(6u, start->args[0]);
  EXPECT_EQ(60u, start->args[1]);
  EXPECT_EQ(60u, start->args[2]);

  for (int count = 148; count >= 0; count -= 2) {
    SCOPED_TRACE(count);
    SimClearLog();
    ASSERT_TRUE(TickDrop());
    EXPECT_EQ(CountLabel(count), Label());
    EXPECT_EQ(count * 170.0, LastLoad());
    EXPECT_TRUE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
    EffectSlot* first = aircraft_->slots[0];
    EffectSlot* second = aircraft_->slots[1];
    EXPECT_EQ(3.0, first->x);
    EXPECT_EQ(1.0, first->y);
    EXPECT_EQ(-3.0, second->x);
    EXPECT_STREQ("fx_jumper", first->name);
    EXPECT_EQ(first->name, second->name);
    EXPECT_STREQ("", aircraft_->slots[2]->name);
    EXPECT_EQ(0.0, aircraft_->slots[3]->x);
    ASSERT_EQ(2, SimCount(kSimFireEvent));
    EXPECT_EQ(0x10202u, SimLast(kSimFireEvent)->args[0]);
  }

  SimClearLog();
  ASSERT_TRUE(TickDrop());  // the ending tick
  EXPECT_EQ(std::vector<std::string>{kEndMessageText}, ShownTexts());
  EXPECT_TRUE(SimFindTimer(dialog_, kDropTimerId) == nullptr);
  EXPECT_EQ(1, SimCount(kSimKillTimer));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_EQ(0, SimCount(kSimSetVariable)) << "the ending tick steps nothing";
  EXPECT_EQ(0, SimCount(kSimFireEvent));
  for (int position = 1; position <= 4; ++position) EXPECT_TRUE(SimSlotIsOriginal(aircraft_, position));
}

TEST_F(DropTest, PresetsRunTheirNumberOfTicksAtTheirPeriod) {
  struct Case {
    const char* listText;
    UINT period;
    int steps;
  } cases[] = {{"МИ-8", 3000, 16}, {"АН-2", 3000, 10}, {"АН-12", 700, 60}, {"АН-22", 700, 75},
               {"АН-26", 800, 30}, {"ИЛ-76", 800, 62}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listText);
    StartPreset(c.listText, false);
    EXPECT_EQ(c.period, DropPeriod());
    EXPECT_EQ(c.steps, TickUntilDropEnds());
    EXPECT_EQ(0.0, LastLoad());
    PressExit();
  }
}

TEST_F(DropTest, CustomIntervalsBecomeTimerPeriods) {
  struct Case {
    const char* interval;
    UINT period;
  } cases[] = {{"12", 12000},
               {"0", 0},
               {"0.5", 0},
               {"2147483", 2147483000u},
               {"3000000", 0x7FFFFFFF},  // beyond the longest timer period
               {"99999999999", 0x7FFFFFFF},
               {"-4", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval);
    StartCustom("3", c.interval);
    EXPECT_EQ(c.period, DropPeriod());
    EXPECT_EQ(c.period, SimLast(kSimSetTimer)->args[1]);
    PressExit();
  }
}

TEST_F(DropTest, EmptyAircraftEndsOnTheFirstTick) {
  StartCustom("0", "1");
  EXPECT_EQ(0.0, LastLoad());
  SimClearLog();
  TickDrop();
  EXPECT_EQ(std::vector<std::string>{kEndMessageText}, ShownTexts());
  EXPECT_EQ(0, SimCount(kSimSetVariable));
  EXPECT_EQ(0, SimTimerCount(kDropTimerId));
  EXPECT_EQ(CountLabel(0), Label());
}

TEST_F(DropTest, NegativeCustomCountIsLoadedAsEmptyAndTheDropEnds) {
  StartCustom("-3", "1");
  EXPECT_EQ(CountLabel(0), Label());
  EXPECT_EQ(0.0, LastLoad());
  EXPECT_EQ(0, TickUntilDropEnds(nullptr, 5));
  EXPECT_EQ(0, SimTimerCount(kDropTimerId));
}

TEST_F(DropTest, SecondDropPressRestartsTheTimerAndRepeatsTheStartMessage) {
  StartPreset("МИ-8", false);
  TickDrop();
  TickDrop();
  SimClearLog();
  PressDrop();
  EXPECT_EQ(std::vector<std::string>{kStartMessageText}, ShownTexts());
  EXPECT_EQ(1, SimTimerCount(kDropTimerId));
  EXPECT_EQ(CountLabel(14), Label());
  TickDrop();
  EXPECT_EQ(CountLabel(13), Label());
}

TEST_F(DropTest, VisualisationToggledMidDropTakesEffectFromTheNextTick) {
  SimWriteConfig("[mi8]\r\neffect_name=fx\r\nposition_x=5\r\n");
  StartPreset("МИ-8", false);
  TickDrop();
  EXPECT_TRUE(SimSlotIsOriginal(aircraft_, 1));
  EXPECT_EQ(1, SimCount(kSimFireEvent)) << "only the load's refresh event so far";
  ToggleVisualisation();
  EXPECT_TRUE(SimSlotIsOriginal(aircraft_, 1));
  TickDrop();
  EXPECT_EQ(5.0, aircraft_->slots[0]->x);
  ToggleVisualisation();
  SimWriteConfig("[mi8]\r\neffect_name=fx\r\nposition_x=9\r\n");
  TickDrop();
  EXPECT_EQ(5.0, aircraft_->slots[0]->x) << "cleared: slots stay as last programmed";
  TickUntilDropEnds();
  EXPECT_TRUE(SimSlotIsOriginal(aircraft_, 1));
}

TEST_F(DropTest, WithoutRealismTheListFollowsOnlyCreationLoadAndEnd) {
  StartPreset("АН-2", false);
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  for (int i = 0; i < 4; ++i) TickGate();
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_EQ(0, SimCount(kSimReadAircraftVariable));
  TickUntilDropEnds();
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
}

TEST_F(DropTest, RealismGateReadsTheAircraftStateEveryTick) {
  SimWriteConfig("[General]\r\nrealism=1\r\n");
  OpenDialog();
  struct Case {
    BYTE flag;
    double value;
    bool allowed;
  } cases[] = {{1, 1.0, true},
               {0, 1.0, false},
               {2, 1.0, false},
               {1, 0.0, false},
               {1, 1.9, true},
               {1, 2.0, false},
               {1, -0.5, false},
               {1, 1e300, false},
               {1, -1e300, false},
               {1, std::numeric_limits<double>::quiet_NaN(), false},
               {1, std::numeric_limits<double>::infinity(), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.flag) + " / " + std::to_string(c.value));
    aircraft_->record->stateFlag = c.flag;
    aircraft_->variable87 = c.value;
    SimClearLog();
    TickGate();
    EXPECT_EQ(c.allowed, SimControlEnabled(dialog_, IDC_CONFIG_LIST));
    EXPECT_EQ(1, SimCount(kSimCurrentAircraft));
    int reads = c.flag == 1 ? 1 : 0;
    EXPECT_EQ(reads, SimCount(kSimReadAircraftVariable)) << "the variable is read only with the flag set";
    EXPECT_EQ(reads, SimCount(kSimLookupUnit));
    if (reads) {
      EXPECT_EQ("bool", SimLast(kSimLookupUnit)->text);
      const SimCall* read = SimLast(kSimReadAircraftVariable);
      EXPECT_EQ(87u, read->args[0]);
      EXPECT_EQ(7u, read->args[1]) << "the unit code LookupUnit returned";
      EXPECT_EQ(0u, read->args[2]);
    }
  }
}

TEST_F(DropTest, RealismTwoLeavesTheGateOff) {
  SimWriteConfig("[General]\r\nrealism=2\r\n");
  OpenDialog();
  aircraft_->record->stateFlag = 0;
  TickGate();
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_EQ(1, SimCount(kSimCurrentAircraft)) << "only creation asked for the aircraft";
}

TEST_F(DropTest, HiddenDialogFinishesItsDropBesideANewOne) {
  StartPreset("АН-2", false);
  TickDrop();
  HWND hidden = dialog_;
  PressExit();
  OpenDialog();
  ASSERT_NE(hidden, dialog_);
  EXPECT_EQ(2, SimTimerCount(kGateTimerId));

  // Both dialogs step the one shared state.
  TickDrop(hidden);
  EXPECT_EQ(8 * 170.0, LastLoad());
  ChooseAircraft("АН-2");
  PressLoad();
  EXPECT_EQ(CountLabel(10), Label());
  PressDrop();
  TickDrop();
  EXPECT_EQ(CountLabel(9), Label());
  TickDrop(hidden);
  EXPECT_EQ(CountLabel(8), SimControlText(hidden, IDC_COUNT_LABEL));
  EXPECT_EQ(8 * 170.0, LastLoad());

  SimClearLog();
  EXPECT_EQ(8, TickUntilDropEnds(hidden));
  EXPECT_EQ(std::vector<std::string>{kEndMessageText}, ShownTexts());
  for (int position = 1; position <= 4; ++position) EXPECT_TRUE(SimSlotIsOriginal(aircraft_, position));
  SimClearLog();
  EXPECT_EQ(0, TickUntilDropEnds());
  EXPECT_EQ(std::vector<std::string>{kEndMessageText}, ShownTexts()) << "each dialog ends its own drop";
}

TEST(DropTimerPeriod, TruncatesMillisecondsWithoutLeavingTheTimersRange) {
  EXPECT_EQ(700u, DropTimerPeriod(0.7));  // not 699: the product is rounded to a double first
  EXPECT_EQ(800u, DropTimerPeriod(0.8));
  EXPECT_EQ(3000u, DropTimerPeriod(3.0));
  EXPECT_EQ(1u, DropTimerPeriod(0.0019));
  EXPECT_EQ(0u, DropTimerPeriod(-1.0));
  EXPECT_EQ(0u, DropTimerPeriod(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(0x7FFFFFFFu, DropTimerPeriod(2147483.647));
  EXPECT_EQ(0x7FFFFFFFu, DropTimerPeriod(1e300));
  EXPECT_EQ(0x7FFFFFFFu, DropTimerPeriod(std::numeric_limits<double>::infinity()));
}

// A count below zero cannot come from the dialog any more, but a drop must end
// whatever the state holds: the count is tested for "zero or below".
class DropTickTest : public CoreTest {};

TEST_F(DropTickTest, CountBelowZeroEndsTheDropInsteadOfSteppingOnForever) {
  HWND dialog = CreateControlDialog();
  g_dropState.count = -1;
  g_dropState.step = 2;
  SetTimer(dialog, kDropTimerId, 100, DialogTimerProc);
  SimClearLog();
  ASSERT_TRUE(SimFireTimer(dialog, kDropTimerId));
  EXPECT_EQ(0, SimCount(kSimSetVariable)) << "no negative load is written";
  EXPECT_EQ(1, SimCount(kSimKillTimer));
  EXPECT_EQ(0, SimTimerCount(kDropTimerId));
  DestroyWindow(dialog);
}

TEST_F(DropTest, SlotsComeBackWhenAHiddenDropStepsOnAfterAnotherDialogsEnd) {
  // A hidden dialog's drop outlives a newer dialog's drop, which already gave
  // the slots back; the hidden one then programs them again and must restore.
  StartPreset("МИ-8", true);
  HWND hidden = dialog_;
  PressExit();
  StartPreset("АН-2", false);
  TickUntilDropEnds();  // ends this dialog's drop and restores
  ChooseAircraft("МИ-8");  // the count goes up again, nothing loaded
  TickDrop(hidden);
  ASSERT_FALSE(SimSlotIsOriginal(aircraft_, 1)) << "the hidden drop shows jumpers again";
  TickUntilDropEnds(hidden);
  for (int position = 1; position <= 4; ++position) EXPECT_TRUE(SimSlotIsOriginal(aircraft_, position)) << position;
}

// The module's own window timers, as the simulator's message loop runs them.
class RealTimerDropTest : public SimulatorTest {
 protected:
  RealTimerDropTest() { loadOptions_.fakeTimers = false; }
};

TEST_F(RealTimerDropTest, ShortCustomDropRunsToItsEndOnRealTimers) {
  OpenAndLoadCustom("3", "0");
  SimClearLog();
  PressDrop();
  PumpUntilShown(2, 10000);
  EXPECT_EQ((std::vector<double>{340.0, 170.0, 0.0}), WrittenLoads());
  EXPECT_EQ((std::vector<std::string>{kStartMessageText, kEndMessageText}), ShownTexts());
  EXPECT_EQ(CountLabel(0), Label());
}
