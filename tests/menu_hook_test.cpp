// The module inside the simulator's main window: its menu, its command, its
// failure diagnostic and its unloading.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "host/menu_hook.h"
#include "tests/fixtures.h"

static const char kTitle[] = "Зоркрыл";

class MenuHookTest : public SimulatorTest {
 protected:
  int CountTitles(const char* title) {
    int n = 0;
    for (const std::string& t : SimMenuBarTitles()) n += t == title;
    return n;
  }
};

TEST_F(MenuHookTest, FirstFramePaintAddsTheMenuAfterTheSimulatorsOwn) {
  std::vector<std::string> own = SimMenuBarTitles();
  ASSERT_FALSE(own.empty());
  SimFramePaint();
  std::vector<std::string> titles = SimMenuBarTitles();
  ASSERT_EQ(own.size() + 1, titles.size());
  EXPECT_EQ(kTitle, titles.back());
  SimFramePaint();
  SimFramePaint();
  EXPECT_EQ(own.size() + 1, SimMenuBarTitles().size());

  HMENU popup = GetSubMenu(GetMenu(SimMainWindow()), static_cast<int>(own.size()));
  ASSERT_TRUE(popup != nullptr);
  ASSERT_EQ(1, GetMenuItemCount(popup));
  char text[64] = {};
  GetMenuStringA(popup, 0, text, sizeof(text), MF_BYPOSITION);
  EXPECT_STREQ("Десантирование", text);
  EXPECT_EQ(static_cast<UINT>(IDM_DROP_COMMAND), GetMenuItemID(popup, 0));
}

TEST_F(MenuHookTest, MenuComesBackAfterTheSimulatorRebuildsItsBar) {
  SimFramePaint();
  HMENU bar = GetMenu(SimMainWindow());
  DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION);
  EXPECT_EQ(0, CountTitles(kTitle));
  SimFramePaint();
  EXPECT_EQ(1, CountTitles(kTitle));
}

TEST_F(MenuHookTest, OnlyAnExactTitleCountsAsOurs) {
  HMENU bar = GetMenu(SimMainWindow());
  AppendMenuA(bar, MF_STRING, 50001, "Зоркрылья");  // begins with our seven characters
  SimFramePaint();
  EXPECT_EQ(1, CountTitles(kTitle));

  DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION);
  AppendMenuA(bar, MF_STRING, 50002, kTitle);  // someone else's item with exactly our title
  SimFramePaint();
  EXPECT_EQ(1, CountTitles(kTitle));
}

class MenuHookWithoutMenuBarTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    SimUnloadModule();
    SimDestroyMainWindow();
    SimCreateMainWindow(false);
    module_ = SimLoadModule(ModuleDllPath().c_str());
  }
};

TEST_F(MenuHookWithoutMenuBarTest, WindowWithoutMenuBarIsLeftAlone) {
  SimFramePaint();
  EXPECT_TRUE(GetMenu(SimMainWindow()) == nullptr);
  SimMenuCommand(IDM_DROP_COMMAND);
  EXPECT_EQ(1u, SimModuleDialogs().size()) << "the command still works";
}

TEST_F(MenuHookTest, WithoutASimulatorWindowTheModuleLoadsAndStaysQuiet) {
  SimUnloadModule();
  SimDestroyMainWindow();
  module_ = SimLoadModule(ModuleDllPath().c_str());
  ASSERT_TRUE(module_ != nullptr);
  SimCreateMainWindow();  // a window created later is never hooked
  SimFramePaint();
  EXPECT_EQ(0, CountTitles(kTitle));
  SimMenuCommand(IDM_DROP_COMMAND);
  EXPECT_EQ(0u, SimModuleDialogs().size());
  EXPECT_EQ(1, SimForwardedCommandCount());
}

TEST_F(MenuHookTest, MenuCommandOpensTheDialogAndIsNotForwarded) {
  SimFramePaint();
  EXPECT_EQ(0, SimMenuCommand(IDM_DROP_COMMAND));
  EXPECT_EQ(0, SimForwardedCommandCount());
  ASSERT_EQ(1u, SimModuleDialogs().size());
  const SimCall* created = SimLast(kSimCreateDialog);
  ASSERT_TRUE(created != nullptr);
  EXPECT_EQ(static_cast<unsigned long>(IDD_CONTROL_DIALOG), created->args[0]);
  EXPECT_EQ(SimMainWindow(), created->pointer) << "owned by the simulator's window";

  SimMenuCommand(40002);
  SimMenuCommand(1);
  EXPECT_EQ(2, SimForwardedCommandCount());
  EXPECT_EQ(1u, SimLastForwardedCommand());

  SimMenuCommand(IDM_DROP_COMMAND);  // already open: nothing happens
  EXPECT_EQ(1, SimCount(kSimCreateDialog));
  EXPECT_EQ(1u, SimModuleDialogs().size());
}

class DialogFailureTest : public SimulatorTest {
 protected:
  SimLoadOptions LoadOptions() const override {
    SimLoadOptions options;
    options.failDialogCreation = true;
    return options;
  }
};

TEST_F(DialogFailureTest, FailedCreationShowsTheFourLineDiagnosticEveryTime) {
  // Leave a count label in the module's text buffer first.
  SimSetDialogCreationFails(false);
  OpenDialog();
  ChooseAircraft("АН-22");
  PressLoad();
  PressExit();
  SimSetDialogCreationFails(true);

  char expectedStart[128];
  snprintf(expectedStart, sizeof(expectedStart), "hInst : %llu\nfrmMain : 101\nsimHWND : %llu\nfrm_Main : ",
           static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(module_)),
           static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(SimMainWindow())));
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    SimClearLog();
    SimMenuCommand(IDM_DROP_COMMAND);
    const SimCall* box = SimLast(kSimMessageBox);
    ASSERT_TRUE(box != nullptr) << "a failed creation is reported";
    EXPECT_EQ("Form run", box->caption);
    EXPECT_EQ(static_cast<unsigned long>(MB_OK | MB_ICONEXCLAMATION), box->args[0]);
    EXPECT_TRUE(box->pointer == nullptr) << "no owner";
    ASSERT_EQ(0u, box->text.find(expectedStart)) << box->text;
    std::string procedure = box->text.substr(strlen(expectedStart));
    EXPECT_TRUE(std::regex_match(procedure, std::regex("[0-9]+"))) << "the last line ends without a line feed";
    UINT_PTR address = static_cast<UINT_PTR>(std::stoull(procedure));
    EXPECT_GT(address, reinterpret_cast<UINT_PTR>(module_)) << "the dialog procedure lies in the module";
    EXPECT_EQ(1, SimCount(kSimCreateDialog)) << "the next command tries again";
  }
}

// Unloading while the simulator runs on.
class UnloadTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimReset();
    SimEnterTempFolder();
    SimCreateMainWindow();
    simulatorProc_ = GetWindowLongPtrA(SimMainWindow(), GWLP_WNDPROC);
    aircraft_ = SimAddAircraft(6);
    SimSetCurrentAircraft(aircraft_);
    module_ = SimLoadModule(ModuleDllPath().c_str(), LoadOptions());
    ASSERT_TRUE(module_ != nullptr);
    ASSERT_NE(simulatorProc_, GetWindowLongPtrA(SimMainWindow(), GWLP_WNDPROC)) << "hooked at load";
  }
  void LoadVisualised() {
    SimWriteConfig("[an22]\r\neffect_name=fx\r\nposition_x=4\r\n");
    OpenDialog();
    ToggleVisualisation();
    ChooseAircraft("АН-22");
    PressLoad();
  }
  void StartVisualisedDrop() {
    LoadVisualised();
    PressDrop();
  }
  // From the simulator's side: the current aircraft's slots hold their own
  // values and nothing on the bar or in the window leads into the module.
  void ExpectNothingOfTheModuleLeft(const char* when, HMODULE module, size_t imageSize) {
    SCOPED_TRACE(when);
    SimAircraft* current = SimCurrentAircraft();
    for (int position = 1; position <= current->slotCount; ++position) {
      EXPECT_TRUE(SimSlotIsOriginal(current, position)) << "slot " << position;
      EXPECT_FALSE(SimPointsInto(current->slots[position - 1]->name, module, imageSize)) << "slot " << position;
    }
    if (SimLoadedModule()) return;
    EXPECT_EQ(simulatorProc_, GetWindowLongPtrA(SimMainWindow(), GWLP_WNDPROC));
    HMENU bar = GetMenu(SimMainWindow());
    for (int item = 0; item < GetMenuItemCount(bar); ++item) {
      HMENU popup = GetSubMenu(bar, item);
      for (int sub = 0; popup && sub < GetMenuItemCount(popup); ++sub)
        EXPECT_NE(static_cast<UINT>(IDM_DROP_COMMAND), GetMenuItemID(popup, sub)) << "the module's command is left";
    }
  }
  LONG_PTR simulatorProc_ = 0;
};

// What a real simulator may do to its emitters around a load and a drop; each
// story ends with the aircraft's own values and nothing of the module in it.
TEST_F(UnloadTest, EmittersComeBackWhateverTheSimulatorDidToThem) {
  // The unload asks the simulator for the aircraft only while slots written by
  // the module are not all given back: at shutdown its services may be gone.
  const struct {
    const char* story;
    bool unloadAsksForTheAircraft;
    std::function<void()> play;
  } stories[] = {
      {"aircraft changed mid-drop", true,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimSetCurrentAircraft(SimAddAircraft(5));
         TickDrop();
         TickUntilDropEnds();
       }},
      {"the aircraft's record gets a new chain mid-drop", true,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimReplaceEmitters(aircraft_, 6, false);
         TickDrop();
         TickUntilDropEnds();
       }},
      {"slot blocks reused for the next aircraft after a load", false,
       [&] {
         LoadVisualised();  // no drop
         EffectSlot* firstBlock = aircraft_->slots[0];
         SimFreeEmitters(aircraft_);
         SimAircraft* next = SimAddAircraft(6);  // in the same blocks, with names of its own
         SimSetCurrentAircraft(next);
         ASSERT_EQ(firstBlock, next->slots[0]);
         PressLoad();
         PressDrop();
         TickUntilDropEnds();
       }},
      {"emitters replaced in place mid-drop", false,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimReplaceEmitters(aircraft_, 6, true);
         TickDrop();
         TickUntilDropEnds();
       }},
      {"chain grown after the load", false,
       [&] {
         SimReplaceEmitters(aircraft_, 2, true);
         StartVisualisedDrop();
         TickDrop();
         SimAppendSlots(aircraft_, 3);
         TickDrop();
         TickUntilDropEnds();
       }},
      {"the simulator sets a programmed slot mid-drop", false,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         SimChangeSlot(aircraft_, 1, false);  // still under the module's name
         SimChangeSlot(aircraft_, 2, true);   // under a name of its own
         TickUntilDropEnds();
       }},
      {"unload after a load without a drop", false,
       [&] {
         LoadVisualised();
         SimChangeSlot(aircraft_, 1, true);  // the simulator's own later setting must stay
       }},
  };
  for (const auto& row : stories) {
    SCOPED_TRACE(row.story);
    SimUnloadModule();
    SimReset();
    aircraft_ = SimAddAircraft(6);
    SimSetCurrentAircraft(aircraft_);
    module_ = SimLoadModule(ModuleDllPath().c_str(), LoadOptions());
    ASSERT_TRUE(module_ != nullptr);
    const size_t imageSize = SimImageSize(module_);
    row.play();
    ExpectNothingOfTheModuleLeft("after the drop", module_, imageSize);
    SimClearLog();
    SimUnloadModule();
    EXPECT_EQ(row.unloadAsksForTheAircraft, SimCount(kSimCurrentAircraft) > 0);
    ExpectNothingOfTheModuleLeft("after unloading", module_, imageSize);
  }
}

TEST_F(UnloadTest, UnloadMidDropGivesEverythingBackAndTheSimulatorRunsOn) {
  StartVisualisedDrop();
  TickDrop();
  TickDrop();
  PressExit();  // a hidden dialog with a running drop
  OpenDialog();
  ASSERT_FALSE(SimSlotIsOriginal(aircraft_, 1));
  SimClearLog();

  SimUnloadModule();
  EXPECT_EQ(simulatorProc_, GetWindowLongPtrA(SimMainWindow(), GWLP_WNDPROC));
  EXPECT_TRUE(SimModuleDialogs().empty()) << "hidden dialogs go too";
  EXPECT_TRUE(SimTimers().empty()) << "no timer can fire into the unloaded module";
  for (int position = 1; position <= 6; ++position) EXPECT_TRUE(SimSlotIsOriginal(aircraft_, position));
  EXPECT_EQ(0, SimCount(kSimFireEvent));
  EXPECT_EQ(0, SimCount(kSimShowText));

  SimFramePaint();
  SimMenuCommand(IDM_DROP_COMMAND);
  SimPumpMessages();
  EXPECT_EQ(1, SimForwardedCommandCount()) << "the simulator's own procedure answers again";
}

static WNDPROC g_laterHookNext;
static LRESULT CALLBACK LaterHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(g_laterHookNext, window, message, wParam, lParam);
}

TEST_F(UnloadTest, AProcedureHookedAfterOursIsLeftInPlace) {
  HWND window = SimMainWindow();
  SimFramePaint();
  g_laterHookNext = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LaterHook)));
  SimUnloadModule();
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(LaterHook), GetWindowLongPtrA(window, GWLP_WNDPROC));
  std::vector<std::string> titles = SimMenuBarTitles();
  EXPECT_EQ(0, std::count(titles.begin(), titles.end(), std::string(kTitle)));
  // The later hook now forwards into freed code: it must unhook before the window is used.
  SetWindowLongPtrA(window, GWLP_WNDPROC, simulatorProc_);
}

class RealTimerUnloadTest : public UnloadTest {
 protected:
  SimLoadOptions LoadOptions() const override {
    SimLoadOptions options;
    options.fakeTimers = false;
    return options;
  }
};

static void PumpFor(DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    SimPumpMessages();
    Sleep(5);
  }
}

TEST_F(RealTimerUnloadTest, RealTimersStopWithTheModule) {
  OpenDialog();
  ChooseAircraft("Пользовательская");
  SimTypeText(dialog_, IDC_COUNT_FIELD, "1000");
  PressLoad();
  PressDrop();  // interval 0: the shortest period the system has
  PumpFor(100);
  ASSERT_GT(SimCount(kSimSetVariable), 1) << "the drop runs on real timers";
  SimUnloadModule();
  PumpFor(200);  // a timer left behind would call into the freed module here
  SimFramePaint();
  EXPECT_EQ(simulatorProc_, GetWindowLongPtrA(SimMainWindow(), GWLP_WNDPROC));
}

TEST_F(RealTimerUnloadTest, ShortCustomDropRunsToItsEndOnRealTimers) {
  OpenDialog();
  ChooseAircraft("Пользовательская");
  SimTypeText(dialog_, IDC_COUNT_FIELD, "3");
  PressLoad();
  SimClearLog();
  PressDrop();
  DWORD start = GetTickCount();
  while (SimCount(kSimShowText) < 2 && GetTickCount() - start < 10000) {
    SimPumpMessages();
    Sleep(5);
  }
  std::vector<double> loads;
  for (const SimCall& call : SimLog())
    if (call.op == kSimSetVariable) loads.push_back(call.value);
  EXPECT_EQ((std::vector<double>{340.0, 170.0, 0.0}), loads);
  ASSERT_EQ(2, SimCount(kSimShowText));
  EXPECT_EQ("Командир, выброска окончена...", SimLast(kSimShowText)->text);
  EXPECT_EQ(CountLabel(0), Label());
}

// Fills a stretch of stack with our title, 8-byte aligned, as an earlier call
// could have left it where the menu scan's buffer will lie.
#if defined(_MSC_VER)
#define NOINLINE __declspec(noinline)
#else
#define NOINLINE __attribute__((noinline))
#endif
static NOINLINE void LeaveTitleOnTheStack() {
  volatile char junk[2048];
  for (size_t i = 0; i < sizeof(junk); ++i)
    junk[i] = kTitle[reinterpret_cast<UINT_PTR>(&junk[i]) % sizeof(kTitle)];
}

class MenuScanTest : public CoreTest {};

TEST_F(MenuScanTest, ItemWithoutTextNeverMatchesLeftoverBytes) {
  HMENU bar = CreateMenu();
  AppendMenuA(bar, MF_SEPARATOR, 0, nullptr);
  HWND window = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPED, 0, 0, 200, 100, nullptr, bar, nullptr, nullptr);
  ASSERT_TRUE(window != nullptr);
  LeaveTitleOnTheStack();
  EnsureModuleMenu(window);
  EXPECT_EQ(2, GetMenuItemCount(bar));
  DestroyWindow(window);
}
