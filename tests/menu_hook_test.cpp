// The module inside the simulator's main window: its menu, its command, its
// failure diagnostic, and what unloading it does and does not do.
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

// The bar is remeasured as the module adds to it (DrawMenuBar), and only then.
static int FrameRecalculations() {
  int seen = 0;
  for (const SimWindowMessage& message : SimMainWindowMessages()) seen += message.message == WM_NCCALCSIZE;
  return seen;
}

TEST_F(MenuHookTest, FirstFramePaintAddsTheMenuAfterTheSimulatorsOwn) {
  std::vector<std::string> own = SimMenuBarTitles();
  ASSERT_FALSE(own.empty());
  SimClearMainWindowMessages();
  SimFramePaint();
  std::vector<std::string> titles = SimMenuBarTitles();
  ASSERT_EQ(own.size() + 1, titles.size());
  EXPECT_EQ(kTitle, titles.back());
  EXPECT_GT(FrameRecalculations(), 0) << "the changed bar is redrawn";
  SimClearMainWindowMessages();
  SimFramePaint();
  SimFramePaint();
  EXPECT_EQ(own.size() + 1, SimMenuBarTitles().size());
  EXPECT_EQ(0, FrameRecalculations()) << "a bar left as it was is not";

  HMENU popup = GetSubMenu(GetMenu(SimMainWindow()), static_cast<int>(own.size()));
  ASSERT_TRUE(popup != nullptr);
  ASSERT_EQ(1, GetMenuItemCount(popup));
  char text[64] = {};
  GetMenuStringA(popup, 0, text, sizeof(text), MF_BYPOSITION);
  EXPECT_STREQ("Десантирование", text);
  EXPECT_EQ(static_cast<UINT>(kMenuCommandId), GetMenuItemID(popup, 0));
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
  SimMenuCommand(kMenuCommandId);
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
  SimMenuCommand(kMenuCommandId);
  EXPECT_EQ(0u, SimModuleDialogs().size());
  EXPECT_EQ(1, SimForwardedCommandCount());
}

// Only the menu (or an accelerator: high word 1) opens the dialog; a control
// of the simulator's window that happens to have id 40001 sends its own
// handle along, and every other command goes on to the simulator.
TEST_F(MenuHookTest, OnlyTheMenuCommandOpensTheDialogAndEverythingElseIsForwarded) {
  SimFramePaint();
  HWND control = CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_PUSHBUTTON, 0, 0, 10, 10, SimMainWindow(),
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kMenuCommandId)), nullptr, nullptr);
  ASSERT_TRUE(control != nullptr);
  const struct {
    const char* what;
    WPARAM wParam;
    HWND sender;
    bool opens;
  } commands[] = {
      {"a control with id 40001 clicked", MAKEWPARAM(kMenuCommandId, BN_CLICKED), control, false},
      {"a control with id 40001 losing the focus", MAKEWPARAM(kMenuCommandId, BN_KILLFOCUS), control, false},
      {"the simulator's own command 40002", MAKEWPARAM(40002, 0), nullptr, false},
      {"IDOK", MAKEWPARAM(IDOK, 0), nullptr, false},
      {"the menu command", MAKEWPARAM(kMenuCommandId, 0), nullptr, true},
      {"the menu command again, the dialog open", MAKEWPARAM(kMenuCommandId, 0), nullptr, false},
      {"the same command from an accelerator, the dialog open", MAKEWPARAM(kMenuCommandId, 1), nullptr, false},
  };
  int forwarded = 0;
  for (const auto& command : commands) {
    SCOPED_TRACE(command.what);
    SimClearLog();
    const size_t before = SimModuleDialogs().size();
    const LRESULT result =
        SendMessageA(SimMainWindow(), WM_COMMAND, command.wParam, reinterpret_cast<LPARAM>(command.sender));
    SimPumpMessages();
    const bool ours = LOWORD(command.wParam) == kMenuCommandId && command.sender == nullptr;
    forwarded += !ours;
    EXPECT_EQ(forwarded, SimForwardedCommandCount()) << "the module keeps only its own command";
    if (ours) EXPECT_EQ(0, result);
    EXPECT_EQ(before + (command.opens ? 1 : 0), SimModuleDialogs().size());
    EXPECT_EQ(command.opens ? 1 : 0, SimCount(kSimCreateDialog));
    if (const SimCall* created = SimLast(kSimCreateDialog)) {
      EXPECT_EQ(static_cast<unsigned long>(kDialogTemplateId), created->args[0]);
      EXPECT_EQ(SimMainWindow(), created->pointer) << "owned by the simulator's window";
    }
  }
  EXPECT_EQ(MAKEWPARAM(IDOK, 0), SimLastForwardedCommand());
  DestroyWindow(control);
}

// A second simulator, or a tool that mimics the simulator's window for its
// client programs, may own an FS98MAIN window above ours; its window cannot be
// subclassed from here, and the module must take the simulator's own.
TEST_F(MenuHookTest, AnotherProcesssWindowAboveOursLeavesOursTheModules) {
  SimUnloadModule();
  SimDestroyMainWindow();
  SimCreateMainWindow();  // before the other process's, so below it
  const std::string event = "kolvarine-other-window-" + std::to_string(GetCurrentProcessId());
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
  HANDLE other = StartProgram(ProgramBesideThisOne("simhost.exe"), "--hold-window " + event);
  ASSERT_TRUE(other != nullptr) << "cannot start simhost.exe";
  // A first start of a 32-bit program through an emulator takes over a minute.
  HWND theirs = nullptr;
  for (DWORD start = GetTickCount(); !theirs && GetTickCount() - start < 600000; Sleep(50)) {
    DWORD owner = 0;
    HWND top = FindWindowA("FS98MAIN", nullptr);
    if (top && GetWindowThreadProcessId(top, &owner) && owner == GetProcessId(other)) theirs = top;
    if (WaitForSingleObject(other, 0) == WAIT_OBJECT_0) break;
  }
  ASSERT_TRUE(theirs != nullptr) << "the other process's window never came first";

  module_ = SimLoadModule(ModuleDllPath().c_str());
  ASSERT_TRUE(module_ != nullptr);
  SimFramePaint();
  EXPECT_EQ(1, CountTitles(kTitle)) << "the module hooked our window";
  SimMenuCommand(kMenuCommandId);
  SimPumpMessages();
  EXPECT_EQ(1u, SimModuleDialogs().size());
  SetEvent(done);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(other, 60000));
  CloseHandle(other);
  CloseHandle(done);
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
    SimMenuCommand(kMenuCommandId);
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

// Unloading while the simulator runs on. Once it has hooked the window the
// module stays in the process: FreeLibrary changes nothing, and the emitters
// come back at the end of a drop or when the simulator closes its window.
class UnloadTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    imageSize_ = SimImageSize(module_);
  }
  void LoadVisualised() {
    SimWriteConfig("[an22]\r\neffect_name=fx\r\nposition_x=4\r\n[user]\r\neffect_name=fx\r\n");
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
    SimUnloadModule();
    EXPECT_TRUE(SimModuleResident(module_)) << "FreeLibrary unmapped a module the simulator's window leads into";
    EXPECT_TRUE(SimLog().empty()) << "FreeLibrary called " << SimOpName(SimLog().front().op);
  }
  int ModulePopupsOnTheBar() { return ModulePopupsOn(GetMenu(SimMainWindow())); }
  int ModulePopupsOn(HMENU bar) {
    int popups = 0;
    for (int item = 0; bar && item < GetMenuItemCount(bar); ++item) {
      HMENU popup = GetSubMenu(bar, item);
      for (int sub = 0; popup && sub < GetMenuItemCount(popup); ++sub)
        popups += GetMenuItemID(popup, sub) == kMenuCommandId;
    }
    return popups;
  }
  static const int kWalkedSlots = 256;
  size_t imageSize_ = 0;
  std::vector<EffectSlot> pastTheWalk_;
};

// What a real simulator may do to its emitters around a load and a drop; each
// story ends with the aircraft's own values and nothing of the module in them.
TEST_F(UnloadTest, EmittersComeBackWhateverTheSimulatorDidToThem) {
  // Closing the window asks the simulator for the aircraft only while slots
  // written by the module are not all given back.
  const struct {
    const char* story;
    bool closingAsksForTheAircraft;
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
      {"window closed after a load without a drop", false,
       [&] {
         LoadVisualised();
         SimChangeSlot(aircraft_, 1, true);  // the simulator's own later setting must stay
       }},
      // A chain is walked no further than its 256th slot, so that a broken one cannot hang the simulator.
      {"a chain grown in front to 300 slots mid-drop, two written slots past the 256th", true,
       [&] {
         SimAppendSlots(aircraft_, 40);
         StartVisualisedDrop();
         TickDrop();
         SimPrependSlots(aircraft_, 254);  // the four written slots are now the 255th to the 258th
         TickDrop();
         NoteSlotsPastTheWalk();
         TickUntilDropEnds();
       }},
      {"a chain that leads back into itself, the save table full", true,
       [&] {
         StartVisualisedDrop();
         TickDrop();
         for (int left = 0; left < 3; ++left) {  // four aircraft left mid-drop hold all sixteen saves
           SimSetCurrentAircraft(SimAddAircraft(4));
           TickDrop();
         }
         SimAircraft* looped = SimAddAircraft(6);
         SimLoopChain(looped, 3);
         SimSetCurrentAircraft(looped);
         TickDrop();  // room is made by walking the chain for each save held
         EXPECT_FALSE(SimSlotIsOriginal(looped, 1));
         TickUntilDropEnds();
       }},
      {"the saves of four aircraft left mid-drop in freed blocks down a chain of 300", false,
       [&] {
         StartVisualisedDrop();
         SimAircraft* next = SimAddAircraft(4);
         std::vector<SimAircraft*> left = {aircraft_};
         TickDrop();
         for (int i = 0; i < 3; ++i) {
           left.push_back(SimAddAircraft(4));
           SimSetCurrentAircraft(left.back());
           TickDrop();
         }
         // The last block freed is reused first: the sixteen saved ones come back first,
         // named by the simulator anew, then the first aircraft's unsaved two, then new blocks.
         for (SimAircraft* aircraft : left) SimFreeEmitters(aircraft);
         SimAppendSlots(next, 18 + 41);
         SimPrependSlots(next, 237);  // the saved blocks now lie from the 242nd slot to the 257th
         SimSetCurrentAircraft(next);
         TickDrop();
         // Only the save past the walk makes room; a slot the module cannot save it leaves alone.
         EXPECT_FALSE(SimSlotIsOriginal(next, 1));
         for (int position = 2; position <= 4; ++position) EXPECT_TRUE(SimSlotIsOriginal(next, position)) << position;
         TickUntilDropEnds();
       }},
  };
  for (const auto& row : stories) {
    SCOPED_TRACE(row.story);
    pastTheWalk_.clear();
    SimDestroyMainWindow();
    SimReset();
    SimCreateMainWindow();
    aircraft_ = SimAddAircraft(6);
    SimSetCurrentAircraft(aircraft_);
    module_ = SimLoadModule(ModuleDllPath().c_str(), LoadOptions());
    ASSERT_TRUE(module_ != nullptr);
    imageSize_ = SimImageSize(module_);
    row.play();
    ExpectEmittersGivenBack("after the drop");
    FreeLibraryChangesNothing();
    SimClearLog();
    SimDestroyMainWindow();
    EXPECT_EQ(row.closingAsksForTheAircraft, SimCount(kSimCurrentAircraft) > 0);
    ExpectEmittersGivenBack("after the simulator closed its window");
  }
}

static WNDPROC g_laterHookNext;
static LRESULT CALLBACK LaterHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(g_laterHookNext, window, message, wParam, lParam);
}

static void PumpFor(DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    SimPumpMessages();
    Sleep(5);
  }
}

static DWORD WINAPI UnloadOnThisThread(LPVOID) {
  SimUnloadModule();
  return 0;
}

// The orders in which a simulator, or a tool that manages its modules, may
// unload the module. Each story runs in a process of its own: a module
// unmapped under the simulator's feet crashes it, and that must fail one row,
// not end the suite.
class UnloadStoryTest : public UnloadTest {
 public:
  struct Story {
    const char* name;
    const char* locale;  // Unix locale of the story's process under Wine; null keeps the suite's
    bool realTimers;
    void (UnloadStoryTest::*play)();
  };
  static const Story kStories[];

 protected:
  void SetUp() override;
  void TearDown() override {
    if (story_) UnloadTest::TearDown();
  }
  SimLoadOptions LoadOptions() const override {
    SimLoadOptions options;
    options.fakeTimers = !story_->realTimers;
    return options;
  }

  // A long custom drop with jumpers on real timers, its dialog hidden.
  void StartHiddenRealTimerDrop(const char* count) {
    SimWriteConfig("[user]\r\neffect_name=fx\r\nposition_x=4\r\n");
    OpenDialog();
    ToggleVisualisation();
    ChooseAircraft("АН-2");
    ChooseAircraft("Пользовательская");
    SimTypeText(dialog_, IDC_COUNT_FIELD, count);
    PressLoad();
    PressDrop();  // interval 0: the shortest period the system has
    PumpFor(50);
    PressExit();
  }
  int Loads() { return SimCount(kSimSetVariable); }

  void UnloadInsideTheExitCommand() {
    StartVisualisedDrop();
    TickDrop();
    SimUnloadInside(WM_COMMAND, kSimExitCommand);
    SimMenuCommand(kSimExitCommand);  // the hook that passed it on is still below
    EXPECT_EQ(1, SimForwardedCommandCount());
    EXPECT_TRUE(SimModuleResident(module_));
    SimFramePaint();
    EXPECT_EQ(1, ModulePopupsOnTheBar());
    TickUntilDropEnds();
    EXPECT_EQ("Командир, выброска окончена...", SimLast(kSimShowText)->text);
    ExpectEmittersGivenBack("after the drop");
  }
  void UnloadInsideTheWindowsDestruction() {
    StartVisualisedDrop();
    TickDrop();
    SimUnloadInside(WM_DESTROY);
    SimDestroyMainWindow();
    EXPECT_TRUE(SimModuleResident(module_));
    ExpectEmittersGivenBack("after the window closed");
  }
  void UnloadFromAnotherThreadWhileAHiddenDialogsTimersRun() {
    StartHiddenRealTimerDrop("100000");
    HANDLE thread = CreateThread(nullptr, 0, UnloadOnThisThread, nullptr, 0, nullptr);
    ASSERT_TRUE(thread != nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(SimModuleResident(module_));
    const int before = Loads();
    PumpFor(300);
    EXPECT_GT(Loads(), before) << "the hidden dialog's drop goes on";
    SimDestroyMainWindow();
    PumpFor(100);
    ExpectEmittersGivenBack("after the window closed");
  }
  void UnloadUnderALaterHookThenMessages() {
    HWND window = SimMainWindow();
    SimFramePaint();
    g_laterHookNext = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LaterHook)));
    SimUnloadModule();
    EXPECT_TRUE(SimModuleResident(module_));
    SimFramePaint();
    EXPECT_EQ(1, ModulePopupsOnTheBar());
    SimMenuCommand(kMenuCommandId);
    SimPumpMessages();
    EXPECT_EQ(1u, SimModuleDialogs().size()) << "the module still answers its command";
    SimMenuCommand(40002);
    EXPECT_EQ(1, SimForwardedCommandCount());
    SimDestroyMainWindow();
  }
  void WindowClosedMidDropThenUnloadWithTheServicesGone() {
    StartVisualisedDrop();
    TickDrop();
    TickDrop();
    PressExit();
    OpenDialog();  // a hidden dialog with the drop and a fresh one
    SimClearLog();
    SimDestroyMainWindow();
    EXPECT_EQ(1, SimCount(kSimCurrentAircraft)) << "the emitters are given back once, as the dialogs go";
    EXPECT_EQ(0, SimCount(kSimFireEvent) + SimCount(kSimShowText) + SimCount(kSimSetVariable));
    ExpectEmittersGivenBack("after the window closed");
    SimPoisonServices(true);
    FreeLibraryChangesNothing();
  }
  void FreeLibraryMidDropAndTheMessageLoopRunsOn() {
    SimClearLog();
    StartHiddenRealTimerDrop("6");
    SimUnloadModule();
    const DWORD start = GetTickCount();
    while (SimCount(kSimShowText) < 2 && GetTickCount() - start < 10000) PumpFor(20);
    std::vector<double> loads;
    for (const SimCall& call : SimLog())
      if (call.op == kSimSetVariable) loads.push_back(call.value);
    EXPECT_EQ((std::vector<double>{1020.0, 850.0, 680.0, 510.0, 340.0, 170.0, 0.0}), loads);
    ASSERT_EQ(2, SimCount(kSimShowText));
    EXPECT_EQ("Командир, выброска окончена...", SimLast(kSimShowText)->text);
    ExpectEmittersGivenBack("after the drop");
  }
  void TwentyFramePaintsUnderAMultibyteCodePage() {
    ASSERT_EQ(932u, GetACP()) << "the story runs under ja_JP.UTF-8, which scripts/setup generates";
    for (int paint = 0; paint < 20; ++paint) SimFramePaint();
    EXPECT_EQ(1, ModulePopupsOnTheBar());
    HMENU bar = GetMenu(SimMainWindow());
    DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION);  // the simulator rebuilds its bar without ours
    for (int paint = 0; paint < 20; ++paint) SimFramePaint();
    EXPECT_EQ(1, ModulePopupsOnTheBar());
    SimMenuCommand(kMenuCommandId);
    SimPumpMessages();
    EXPECT_EQ(1u, SimModuleDialogs().size());
  }
  void TwoBarsSwitchedUnderAMultibyteCodePage() {
    ASSERT_EQ(932u, GetACP()) << "the story runs under ja_JP.UTF-8, which scripts/setup generates";
    HMENU first = GetMenu(SimMainWindow());
    HMENU second = nullptr;
    for (int round = 0; round < 4; ++round) {
      SimFramePaint();
      second = SimSwitchMenuBar() == first ? GetMenu(SimMainWindow()) : second;
      SimFramePaint();
      SimSwitchMenuBar();
    }
    SimFramePaint();
    EXPECT_EQ(1, ModulePopupsOn(first));
    EXPECT_EQ(1, ModulePopupsOn(second));
  }

  const Story* story_ = nullptr;
};

const UnloadStoryTest::Story UnloadStoryTest::kStories[] = {
    {"FreeLibrary inside the simulator's Exit command", nullptr, false,
     &UnloadStoryTest::UnloadInsideTheExitCommand},
    {"FreeLibrary inside WM_DESTROY of the simulator's window, mid-drop", nullptr, false,
     &UnloadStoryTest::UnloadInsideTheWindowsDestruction},
    {"FreeLibrary from another thread while a hidden dialog's timers run", nullptr, true,
     &UnloadStoryTest::UnloadFromAnotherThreadWhileAHiddenDialogsTimersRun},
    {"FreeLibrary under a window procedure hooked later, then messages", nullptr, false,
     &UnloadStoryTest::UnloadUnderALaterHookThenMessages},
    {"window closed mid-drop, then FreeLibrary with the services gone", nullptr, false,
     &UnloadStoryTest::WindowClosedMidDropThenUnloadWithTheServicesGone},
    {"FreeLibrary mid-drop, and the message loop runs on", nullptr, true,
     &UnloadStoryTest::FreeLibraryMidDropAndTheMessageLoopRunsOn},
    {"twenty frame paints under code page 932", "ja_JP.UTF-8", false,
     &UnloadStoryTest::TwentyFramePaintsUnderAMultibyteCodePage},
    {"two menu bars switched four times under code page 932", "ja_JP.UTF-8", false,
     &UnloadStoryTest::TwoBarsSwitchedUnderAMultibyteCodePage},
};

void UnloadStoryTest::SetUp() {
  const char* wanted = getenv("KOLVARINE_STORY");
  for (const Story& story : kStories) {
    if (wanted && strcmp(wanted, story.name) == 0) story_ = &story;
  }
  if (!story_) return;  // the suite's own process only starts the others
  EndProcessOnCrash();
  UnloadTest::SetUp();
}

TEST_F(UnloadStoryTest, NoUnloadOrderCrashesTheSimulatorOrAddsASecondMenu) {
  if (story_) {
    (this->*story_->play)();
    return;
  }
  // A first start of a 32-bit program through an emulator takes over a minute.
  const DWORD kStoryLimitMs = 600000;
  for (const Story& story : kStories) {
    SCOPED_TRACE(story.name);
    std::vector<std::string> environment = {std::string("KOLVARINE_STORY=") + story.name};
    ChildRun run = RunThisProgram("--gtest_filter=UnloadStoryTest.*", environment, kStoryLimitMs, story.locale);
    const std::string tail = run.output.size() > 4000 ? run.output.substr(run.output.size() - 4000) : run.output;
    EXPECT_EQ(0u, run.status) << tail;
    EXPECT_NE(std::string::npos, run.output.find("[  PASSED  ] 1 test")) << tail;
  }
}

class RealTimerUnloadTest : public UnloadTest {
 protected:
  SimLoadOptions LoadOptions() const override {
    SimLoadOptions options;
    options.fakeTimers = false;
    return options;
  }
};

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
