// The configuration file as the pilot writes it into the Modules folder.
#include <gtest/gtest.h>

#include <string>

#include "tests/fixtures.h"
#include "ui/module_config.h"

using ConfigTest = CoreTest;

TEST_F(ConfigTest, NoFileMeansRealismOffBoxClearAndEmptyValues) {
  g_moduleConfig.realism = 5;
  g_moduleConfig.visualView = 5;
  ReadGeneralSwitches();
  EXPECT_EQ(0, g_moduleConfig.realism);
  EXPECT_EQ(0, g_moduleConfig.visualView);
  EXPECT_STREQ("", ReadConfigText("an22", kKeyEffectName));
  EXPECT_EQ(0, ReadConfigInteger("an22", kKeyPositionX));
}

struct SwitchCase {
  const char* value;
  int stored;
};

TEST_F(ConfigTest, SwitchesAreStoredAsTheIntegersWritten) {
  const SwitchCase cases[] = {{"1", 1}, {"2", 2}, {"01", 1}, {"0", 0}, {"yes", 0}, {"-1", -1}, {"1.9", 1}};
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(c.value);
    SimWriteConfig(std::string("[General]\r\nrealism=") + c.value + "\r\nvisual_view=" + c.value + "\r\n");
    ReadGeneralSwitches();
    EXPECT_EQ(c.stored, g_moduleConfig.realism);
    EXPECT_EQ(c.stored, g_moduleConfig.visualView);
  }
}

TEST_F(ConfigTest, VisualViewWriteCreatesTheFileAndSectionThenFlips) {
  ASSERT_EQ("", SimReadConfig());
  WriteVisualView(true);
  EXPECT_NE(std::string::npos, SimReadConfig().find("[General]"));
  EXPECT_NE(std::string::npos, SimReadConfig().find("visual_view=1"));
  ReadGeneralSwitches();
  EXPECT_EQ(1, g_moduleConfig.visualView);

  WriteVisualView(false);
  EXPECT_NE(std::string::npos, SimReadConfig().find("visual_view=0"));
  ReadGeneralSwitches();
  EXPECT_EQ(0, g_moduleConfig.visualView);
}

TEST_F(ConfigTest, VisualViewWriteKeepsTheRestOfTheFile) {
  SimWriteConfig("[General]\r\nrealism=1\r\nvisual_view=0\r\n[an22]\r\neffect_name=fx_jumper\r\n");
  WriteVisualView(true);
  ReadGeneralSwitches();
  EXPECT_EQ(1, g_moduleConfig.realism);
  EXPECT_EQ(1, g_moduleConfig.visualView);
  EXPECT_STREQ("fx_jumper", ReadConfigText("an22", kKeyEffectName));
}

TEST_F(ConfigTest, LongEffectNameIsCutTo259Characters) {
  std::string name(300, 'n');
  name.replace(0, 5, "fx_a_");
  SimWriteConfig("[an22]\r\neffect_name=" + name + "\r\n");
  EXPECT_EQ(name.substr(0, 259), ReadConfigText("an22", kKeyEffectName));
  EXPECT_EQ(EffectNameBuffer(), ReadConfigText("an22", kKeyEffectName));  // slots point at this buffer
}

TEST_F(ConfigTest, EachKeyKeepsItsOwnBuffer) {
  SimWriteConfig("[mi8]\r\nposition_x=4\r\nposition_y=5\r\neffect_name=fx\r\n");
  const char* x = ReadConfigText("mi8", kKeyPositionX);
  const char* y = ReadConfigText("mi8", kKeyPositionY);
  const char* name = ReadConfigText("mi8", kKeyEffectName);
  EXPECT_STREQ("4", x);
  EXPECT_STREQ("5", y);
  EXPECT_STREQ("fx", name);
}

// The file the module reads and writes is the one in the simulator's folder
// when it attached, wherever the current folder goes later (a file dialog of
// the simulator or of another add-on moves it); a folder name the ANSI code
// page cannot spell keeps the path relative, which still finds it.
using ConfigPlaceTest = SimulatorTest;

TEST_F(ConfigPlaceTest, TheFileIsTheOneInTheSimulatorsFolderAtStartUp) {
  const struct {
    const char* story;
    bool unspellableFolder;
    bool folderMoves;
  } stories[] = {
      {"the current folder moves after the dialog opens", false, true},
      {"the simulator's folder has a name the code page cannot spell", true, false},
  };
  for (const auto& row : stories) {
    SCOPED_TRACE(row.story);
    SimFreeLibrary();
    SimDestroyMainWindow();
    SimLeaveTempFolder();
    ASSERT_FALSE(SimEnterTempFolder(row.unspellableFolder).empty());
    SimCreateMainWindow();
    SimWriteConfig("[General]\r\nrealism=1\r\nvisual_view=1\r\n[an2]\r\neffect_name=fx_jumper\r\nposition_x=4\r\n");
    module_ = SimLoadModule(ModuleDllPath().c_str());
    ASSERT_TRUE(module_ != nullptr);
    OpenDialog();
    if (row.folderMoves) SimMoveCurrentFolder();
    PressExit();
    OpenDialog();  // reads the switches anew
    EXPECT_TRUE(SimBoxChecked(dialog_, IDC_VISUAL_BOX)) << "visual_view=1";
    SimClearLog();
    TickGate();
    EXPECT_EQ(1, SimCount(kSimReadAircraftVariable)) << "realism=1";
    ToggleVisualisation();
    EXPECT_NE(std::string::npos, SimReadConfig().find("visual_view=0")) << SimReadConfig();
    ToggleVisualisation();
    ChooseAircraft("АН-2");
    PressLoad();
    PressDrop();
    TickDrop();
    const EffectSlot* first = aircraft_->slots[0];
    EXPECT_STREQ("fx_jumper", first->name);
    EXPECT_EQ(4.0, first->x);
    TickUntilDropEnds();
    SimReturnToSimulatorFolder();
  }
}
