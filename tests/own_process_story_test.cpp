// Stories that may crash the simulator, each played by a process of its own
// so that a crash fails its row instead of ending the suite: the orders in
// which a simulator, or a tool that manages its modules, may call FreeLibrary
// on the module, and the menu bar under a multibyte code page.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/emitter_give_back.h"
#include "tests/expected_texts.h"

static WNDPROC g_laterHookNext;
static LRESULT CALLBACK LaterHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(g_laterHookNext, window, message, wParam, lParam);
}

static DWORD WINAPI FreeLibraryOnThisThread(LPVOID) {
  SimFreeLibrary();
  return 0;
}

// The suite's own process starts one process per story and plays none: a
// module unmapped under the simulator's feet would crash it, and that must
// fail one row, not end the suite; a code page is a process's own.
class OwnProcessStoryTest : public EmitterGiveBackTest {
 public:
  struct Story {
    const char* name;
    const char* locale;  // Unix locale of the story's process under Wine; null keeps the suite's
    bool realTimers;
    void (OwnProcessStoryTest::*play)();
  };
  static const Story kStories[];

 protected:
  void SetUp() override;
  void TearDown() override {
    if (story_) EmitterGiveBackTest::TearDown();
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

  void FreeLibraryInsideTheExitCommand() {
    StartVisualisedDrop();
    TickDrop();
    SimFreeLibraryInside(WM_COMMAND, kSimExitCommand);
    SimMenuCommand(kSimExitCommand);  // the hook that passed it on is still below
    EXPECT_EQ(1, SimForwardedCommandCount());
    EXPECT_TRUE(SimModuleResident(module_));
    SimFramePaint();
    EXPECT_EQ(1, ModulePopupsOnTheBar());
    TickUntilDropEnds();
    EXPECT_EQ(kEndMessageText, SimLast(kSimShowText)->text);
    ExpectEmittersGivenBack("after the drop");
  }
  void FreeLibraryInsideTheWindowsDestruction() {
    StartVisualisedDrop();
    TickDrop();
    SimFreeLibraryInside(WM_DESTROY);
    SimDestroyMainWindow();
    EXPECT_TRUE(SimModuleResident(module_));
    ExpectEmittersGivenBack("after the window closed");
  }
  void FreeLibraryFromAnotherThreadWhileAHiddenDialogsTimersRun() {
    StartHiddenRealTimerDrop("100000");
    HANDLE thread = CreateThread(nullptr, 0, FreeLibraryOnThisThread, nullptr, 0, nullptr);
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
  void FreeLibraryUnderALaterHookThenMessages() {
    HWND window = SimMainWindow();
    SimFramePaint();
    g_laterHookNext = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LaterHook)));
    SimFreeLibrary();
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
  void WindowClosedMidDropThenFreeLibraryWithTheServicesGone() {
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
    SimFreeLibrary();
    PumpUntilShown(2, 10000);
    EXPECT_EQ((std::vector<double>{1020.0, 850.0, 680.0, 510.0, 340.0, 170.0, 0.0}), WrittenLoads());
    EXPECT_EQ((std::vector<std::string>{kStartMessageText, kEndMessageText}), ShownTexts());
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

const OwnProcessStoryTest::Story OwnProcessStoryTest::kStories[] = {
    {"FreeLibrary inside the simulator's Exit command", nullptr, false,
     &OwnProcessStoryTest::FreeLibraryInsideTheExitCommand},
    {"FreeLibrary inside WM_DESTROY of the simulator's window, mid-drop", nullptr, false,
     &OwnProcessStoryTest::FreeLibraryInsideTheWindowsDestruction},
    {"FreeLibrary from another thread while a hidden dialog's timers run", nullptr, true,
     &OwnProcessStoryTest::FreeLibraryFromAnotherThreadWhileAHiddenDialogsTimersRun},
    {"FreeLibrary under a window procedure hooked later, then messages", nullptr, false,
     &OwnProcessStoryTest::FreeLibraryUnderALaterHookThenMessages},
    {"window closed mid-drop, then FreeLibrary with the services gone", nullptr, false,
     &OwnProcessStoryTest::WindowClosedMidDropThenFreeLibraryWithTheServicesGone},
    {"FreeLibrary mid-drop, and the message loop runs on", nullptr, true,
     &OwnProcessStoryTest::FreeLibraryMidDropAndTheMessageLoopRunsOn},
    {"twenty frame paints under code page 932", "ja_JP.UTF-8", false,
     &OwnProcessStoryTest::TwentyFramePaintsUnderAMultibyteCodePage},
    {"two menu bars switched four times under code page 932", "ja_JP.UTF-8", false,
     &OwnProcessStoryTest::TwoBarsSwitchedUnderAMultibyteCodePage},
};

void OwnProcessStoryTest::SetUp() {
  const char* wanted = getenv("KOLVARINE_STORY");
  for (const Story& story : kStories) {
    if (wanted && strcmp(wanted, story.name) == 0) story_ = &story;
  }
  if (!story_) return;  // the suite's own process only starts the others
  EndProcessOnCrash();
  loadOptions_.fakeTimers = !story_->realTimers;
  EmitterGiveBackTest::SetUp();
}

TEST_F(OwnProcessStoryTest, NoStoryCrashesTheSimulatorOrAddsASecondMenu) {
  if (story_) {
    (this->*story_->play)();
    return;
  }
  // A first start of a 32-bit program through an emulator takes over a
  // minute, and the stories' processes share the machine's cores.
  const DWORD kStoryLimitMs = 600000;
  std::vector<ChildProgram> children;
  for (const Story& story : kStories) {
    children.push_back({std::string(), "--gtest_filter=OwnProcessStoryTest.*",
                        {std::string("KOLVARINE_STORY=") + story.name}, kStoryLimitMs, story.locale});
  }
  const std::vector<ChildRun> runs = RunSideBySide(children);
  for (size_t i = 0; i < runs.size(); ++i) {
    const ChildRun& run = runs[i];
    SCOPED_TRACE(kStories[i].name);
    printf("%-70s %6.1f s\n", kStories[i].name, run.milliseconds / 1000.0);
    const std::string tail = run.output.size() > 4000 ? run.output.substr(run.output.size() - 4000) : run.output;
    EXPECT_EQ(0u, run.status) << tail;
    EXPECT_NE(std::string::npos, run.output.find("[  PASSED  ] 1 test")) << tail;
  }
}
