// Whatever a pilot pastes into the fields or leaves in the configuration file,
// the module reads it without crashing and by the same rules every time.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/drop_state.h"
#include "engine/effect_slots.h"
#include "engine/text.h"
#include "tests/expected_texts.h"
#include "tests/fixtures.h"
#include "ui/module_config.h"

namespace {

// Pieces that make hostile files and texts: numbers far beyond 32 bits,
// Windows-1251 and UTF-8 bytes, stray brackets and equals signs, long runs.
std::string RandomPiece(std::mt19937& random) {
  static const char* const kPieces[] = {
      "0", "7", "-", "+", " ", "\t", "\r\n", "\n", "=", "[", "]", "[an22]", "[General]", "[an22]\r\n",
      "realism", "visual_view", "effect_name", "position_x", "position_y", "position_z", "99999999999999999999",
      "-2147483649", "2147483647", "1.5", "0x1F", "\xC4\xE5\xF1\xE0\xED\xF2", "\xD0\x94\xD0\xB5", "\xFF\xFE",
      ";", "\"", "%s%n", "\\", "\x01", "1e9"};
  std::uniform_int_distribution<int> pick(0, sizeof(kPieces) / sizeof(kPieces[0]) + 2);
  int choice = pick(random);
  if (choice < static_cast<int>(sizeof(kPieces) / sizeof(kPieces[0]))) return kPieces[choice];
  if (choice == sizeof(kPieces) / sizeof(kPieces[0])) return std::string(std::uniform_int_distribution<int>(200, 3000)(random), 'w');
  std::string bytes(std::uniform_int_distribution<int>(1, 16)(random), '\0');
  for (char& byte : bytes) byte = static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random));
  return bytes;
}

std::string RandomText(std::mt19937& random, int pieces) {
  std::string text;
  for (int i = std::uniform_int_distribution<int>(0, pieces)(random); i > 0; --i) text += RandomPiece(random);
  return text;
}

// The value of a key as the profile functions give it, without the module's 259-character cut.
std::string ProfileValue(const char* section, const char* key) {
  static char value[65536];
  GetPrivateProfileStringA(section, key, "", value, sizeof(value), "Modules/Kolvarine.cfg");
  return value;
}

}  // namespace

TEST(ReferenceAtoi, AgreesWithTheModuleOnHandPickedTexts) {
  for (const char* text : {"", "12", " -7x", "+", "-", "2147483648", "-2147483648", "000000000000000000042"})
    EXPECT_EQ(ReferenceAtoi(text), ParseInteger(text)) << text;
}

using HostileInputTest = CoreTest;

TEST_F(HostileInputTest, RandomConfigurationFilesAreReadByTheRules) {
  std::mt19937 random(20261208);
  static const ConfigKey kIntegerKeys[] = {kKeyRealism, kKeyVisualView, kKeyPositionX, kKeyPositionY, kKeyPositionZ};
  static const char* const kKeyNames[] = {"realism", "visual_view", "effect_name", "position_x", "position_y",
                                          "position_z"};
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::string file = RandomText(random, 60);
    if (round % 3 == 0) file = "[an22]\r\n" + file;   // the section exists, then anything follows
    if (round % 5 == 0) file += "\r\n[an22]\r\nposition_x=5\r\nposition_x=6";  // duplicates, no final newline
    SimWriteConfig(file);

    const char* section = round % 2 ? "an22" : "General";
    for (ConfigKey key : kIntegerKeys) {
      std::string raw = ProfileValue(section, kKeyNames[key]).substr(0, kConfigValueSize - 1);
      EXPECT_EQ(ReferenceAtoi(raw), ReadConfigInteger(section, key)) << kKeyNames[key];
    }
    std::string name = ProfileValue("an22", "effect_name");
    EXPECT_EQ(name.substr(0, kConfigValueSize - 1), ReadConfigText("an22", kKeyEffectName));

    // Programming from it writes exactly those values and never a null name.
    ProgramEffectSlots("an22", kTwoStreams);
    EXPECT_EQ(ReferenceAtoi(ProfileValue("an22", "position_x").substr(0, 259)), aircraft_->slots[0]->x);
    EXPECT_EQ(-aircraft_->slots[0]->x, aircraft_->slots[1]->x);
    EXPECT_EQ(name.substr(0, 259), aircraft_->slots[1]->name);
    EXPECT_TRUE(SimSlotIsOriginal(aircraft_, 4) || aircraft_->slots[3]->name == kEmptyEffectName);
  }
}

TEST_F(HostileInputTest, RandomFieldTextsLoadAsWholeNonNegativeNumbers) {
  std::mt19937 random(8122026);
  for (int round = 0; round < 2000; ++round) {
    std::string count = RandomText(random, 6);
    std::string interval = RandomText(random, 6);
    count = count.substr(0, count.find('\0'));
    interval = interval.substr(0, interval.find('\0'));
    g_dropState.presetIndex = kCustomPreset;
    const char* label = LoadAircraft(count.c_str(), interval.c_str());
    int expectedCount = ReferenceAtoi(count) < 0 ? 0 : ReferenceAtoi(count);
    int expectedInterval = ReferenceAtoi(interval) < 0 ? 0 : ReferenceAtoi(interval);
    ASSERT_EQ(expectedCount, g_dropState.count) << count;
    ASSERT_EQ(expectedInterval, g_dropState.interval) << interval;
    ASSERT_EQ(CountLabel(expectedCount), label);
    ASSERT_EQ(expectedCount * 170.0, SimLast(kSimSetVariable)->value);
  }
}
