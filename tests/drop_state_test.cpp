// Choosing a configuration and loading the aircraft.
#include <gtest/gtest.h>

#include "engine/drop_state.h"
#include "host/module_exports.h"
#include "tests/expected_texts.h"
#include "tests/fixtures.h"

using DropStateTest = CoreTest;

struct PresetRow {
  const char* listText;
  const char* section;
  const char* countText;
  const char* intervalText;
  int count;
  double interval;
  int step;
  const char* description;
};

TEST_F(DropStateTest, EveryPresetFillsTheStateAndTheTextsToShow) {
  const PresetRow rows[] = {
      {"МИ-8", "mi8", "16", "3", 16, 3.0, 1, kOneStreamText},
      {"АН-2", "an2", "10", "3", 10, 3.0, 1, kOneStreamText},
      {"АН-12", "an12", "60", "0.7", 60, 0.7, 1, kOneStreamText},
      {"АН-22", "an22", "150", "0.7", 150, 0.7, 2, kTwoStreamsText},
      {"АН-26", "an26", "30", "0.8", 30, 0.8, 1, kOneStreamText},
      {"ИЛ-76", "il76", "124", "0.8", 124, 0.8, 2, kTwoStreamsText},
  };
  ASSERT_STREQ("Пользовательская", kAircraftPresets[0].listText);
  ASSERT_STREQ("user", kAircraftPresets[0].section);
  for (int index = 1; index < kPresetCount; ++index) {
    const PresetRow& row = rows[index - 1];
    SCOPED_TRACE(row.section);
    EXPECT_STREQ(row.listText, kAircraftPresets[index].listText);
    EXPECT_STREQ(row.section, kAircraftPresets[index].section);

    PresetTexts texts = {};
    ASSERT_TRUE(SelectPreset(index, &texts));
    EXPECT_EQ(row.count, g_dropState.count);
    EXPECT_EQ(row.interval, g_dropState.interval);
    EXPECT_EQ(row.step, g_dropState.step);
    EXPECT_EQ(index, g_dropState.presetIndex);
    EXPECT_STREQ(row.countText, texts.countText);
    EXPECT_STREQ(row.intervalText, texts.intervalText);
    EXPECT_STREQ(row.description, texts.description);
  }
}

TEST_F(DropStateTest, CustomEntryKeepsCountAndIntervalUntilTheAircraftIsLoaded) {
  PresetTexts texts = {};
  SelectPreset(4, &texts);  // АН-22
  ASSERT_TRUE(SelectPreset(kCustomPreset, &texts));
  EXPECT_STREQ("0", texts.countText);
  EXPECT_STREQ("0", texts.intervalText);
  EXPECT_STREQ(kOneStreamText, texts.description);
  EXPECT_EQ(150, g_dropState.count);
  EXPECT_EQ(0.7, g_dropState.interval);
  EXPECT_EQ(1, g_dropState.step);
  EXPECT_EQ(0, g_dropState.presetIndex);

  EXPECT_EQ(CountLabel(12), LoadAircraft("12", "5"));
  EXPECT_EQ(12, g_dropState.count);
  EXPECT_EQ(5.0, g_dropState.interval);
}

TEST_F(DropStateTest, NoSelectionChangesNothing) {
  PresetTexts texts = {"unchanged", "unchanged", "unchanged"};
  SelectPreset(6, &texts);
  const DropState before = g_dropState;
  PresetTexts untouched = {"unchanged", "unchanged", "unchanged"};
  EXPECT_FALSE(SelectPreset(-1, &untouched));  // CB_ERR
  EXPECT_FALSE(SelectPreset(kPresetCount, &untouched));
  EXPECT_STREQ("unchanged", untouched.countText);
  EXPECT_EQ(before.count, g_dropState.count);
  EXPECT_EQ(before.presetIndex, g_dropState.presetIndex);
}

struct CustomLoad {
  const char* countText;
  const char* intervalText;
  int count;
  double interval;
};

TEST_F(DropStateTest, CustomFieldsAreReadAsWholeNumbers) {
  const CustomLoad cases[] = {
      {"20", "0.5", 20, 0.0},
      {"20", "12", 20, 12.0},
      {"", "", 0, 0.0},
      {"7 человек", "3с", 7, 3.0},
      // A negative count would never step down to exactly zero: loaded as empty.
      {"-5", "-2", 0, 0.0},
  };
  for (const CustomLoad& c : cases) {
    SCOPED_TRACE(c.countText);
    g_dropState.presetIndex = kCustomPreset;
    LoadAircraft(c.countText, c.intervalText);
    EXPECT_EQ(c.count, g_dropState.count);
    EXPECT_EQ(c.interval, g_dropState.interval);
  }
}

TEST_F(DropStateTest, PresetLoadIgnoresTheFieldsAndLabelsTheCurrentCount) {
  PresetTexts texts;
  SelectPreset(1, &texts);  // МИ-8
  g_dropState.count = 9;    // after some ticks
  EXPECT_EQ(CountLabel(9), LoadAircraft("500", "60"));
  EXPECT_EQ(9, g_dropState.count);
  EXPECT_EQ(3.0, g_dropState.interval);
}

TEST_F(DropStateTest, LoadReachesTheSimulatorsVariableWriter) {
  PresetTexts texts;
  SelectPreset(4, &texts);
  LoadAircraft("", "");

  ASSERT_EQ(1, SimCount(kSimGetVariableWriter));
  const SimCall* fetched = SimLast(kSimGetVariableWriter);
  const SimCall* write = SimLast(kSimSetVariable);
  ASSERT_TRUE(write != nullptr);
  EXPECT_EQ(fetched->pointer, write->pointer);  // called on the object itself
  EXPECT_EQ(164u, write->args[0]);
  EXPECT_EQ(124u, write->args[1]);
  EXPECT_EQ(150 * 170.0, write->value);
  EXPECT_EQ(1u, write->args[2]);
  EXPECT_EQ(25500.0, g_dropState.load);

  // The writer is fetched anew for every write.
  g_dropState.count = 0;
  LoadPayload();
  EXPECT_EQ(2, SimCount(kSimGetVariableWriter));
  EXPECT_EQ(0.0, SimLast(kSimSetVariable)->value);
}

TEST_F(DropStateTest, ServicesTheSimulatorNeverFilledAreSkippedNotCalled) {
  for (HostImportEntry& entry : ImportTable) entry.service = nullptr;
  g_dropState.count = 3;
  LoadPayload();  // no writer to reach: nothing happens, nothing crashes
  EXPECT_EQ(510.0, g_dropState.load);
  EXPECT_EQ(0, SimCount(kSimSetVariable));
}
