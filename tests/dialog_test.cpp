// The control dialog as the pilot meets it: creation, the list, the fields,
// the buttons and the visualisation box.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/expected_texts.h"
#include "tests/fixtures.h"
#include "ui/control_dialog.h"

using DialogTest = SimulatorTest;

TEST_F(DialogTest, OpensWithCustomEntrySelectedAndNothingToLoadYet) {
  ASSERT_TRUE(OpenDialog() != nullptr);
  EXPECT_EQ("0", SimControlText(dialog_, IDC_COUNT_FIELD));
  EXPECT_EQ("0", SimControlText(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_EQ(kOneStreamText, SimControlText(dialog_, IDC_STREAMS_TEXT));
  EXPECT_EQ(CountLabel(0), Label());
  EXPECT_EQ((std::vector<std::string>{"Пользовательская", "МИ-8", "АН-2", "АН-12", "АН-22", "АН-26", "ИЛ-76"}),
            SimListEntries(dialog_, IDC_CONFIG_LIST));
  EXPECT_EQ(0, SimListSelection(dialog_, IDC_CONFIG_LIST));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_VISUAL_BOX));
  EXPECT_FALSE(SimBoxChecked(dialog_, IDC_VISUAL_BOX));
  const SimTimer* gate = SimFindTimer(dialog_, kGateTimerId);
  ASSERT_TRUE(gate != nullptr);
  EXPECT_EQ(250u, gate->period);
  EXPECT_EQ(0, SimTimerCount(kDropTimerId));
  EXPECT_EQ("", SimReadConfig()) << "opening the dialog writes nothing";
}

TEST_F(DialogTest, LabelStartsAtZeroWhateverTheStateHolds) {
  OpenAndLoad("АН-2");
  PressExit();
  OpenDialog();
  EXPECT_EQ(CountLabel(0), Label());
}

TEST_F(DialogTest, BoxFollowsTheSavedSettingAndTheAircraftsEmitters) {
  struct Case {
    int slots;
    const char* visualView;
    bool enabled;
    bool checked;
  } cases[] = {{4, "1", true, true}, {0, "1", false, true}, {0, "0", false, false}, {1, "2", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.slots) + " slots, visual_view=" + c.visualView);
    SimSetCurrentAircraft(SimAddAircraft(c.slots));
    SimWriteConfig(std::string("[General]\r\nvisual_view=") + c.visualView + "\r\n");
    std::string before = SimReadConfig();
    OpenDialog();
    EXPECT_EQ(c.enabled, SimControlEnabled(dialog_, IDC_VISUAL_BOX));
    EXPECT_EQ(c.checked, SimBoxChecked(dialog_, IDC_VISUAL_BOX));
    EXPECT_EQ(before, SimReadConfig()) << "setting the box at creation is no click";
    PressExit();
  }
}

TEST_F(DialogTest, BoxStateArrivesAsAPostedMessage) {
  SimWriteConfig("[General]\r\nvisual_view=1\r\n");
  SimFramePaint();
  SimMenuCommand(kMenuCommandId);
  std::vector<HWND> dialogs = SimModuleDialogs();
  ASSERT_EQ(1u, dialogs.size());
  EXPECT_FALSE(SimBoxChecked(dialogs[0], IDC_VISUAL_BOX));
  SimPumpMessages();
  EXPECT_TRUE(SimBoxChecked(dialogs[0], IDC_VISUAL_BOX));
}

TEST_F(DialogTest, ChoosingAnEntryShowsItsTextsAndEnablesLoading) {
  OpenDialog();
  ChooseAircraft("АН-22");
  EXPECT_EQ("150", SimControlText(dialog_, IDC_COUNT_FIELD));
  EXPECT_EQ("0.7", SimControlText(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_EQ(kTwoStreamsText, SimControlText(dialog_, IDC_STREAMS_TEXT));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_COUNT_FIELD));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_EQ(CountLabel(0), Label()) << "choosing never changes the count label";

  ChooseAircraft("Пользовательская");
  EXPECT_EQ("0", SimControlText(dialog_, IDC_COUNT_FIELD));
  EXPECT_EQ("0", SimControlText(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_EQ(kOneStreamText, SimControlText(dialog_, IDC_STREAMS_TEXT));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_COUNT_FIELD));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_INTERVAL_FIELD));
}

TEST_F(DialogTest, OtherListNotificationsChangeNothing) {
  OpenDialog();
  SendDlgItemMessageA(dialog_, IDC_CONFIG_LIST, CB_SETCURSEL, 4, 0);
  for (WORD notification : {CBN_DROPDOWN, CBN_CLOSEUP, CBN_SETFOCUS, CBN_KILLFOCUS, CBN_SELENDOK}) {
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CONFIG_LIST, notification),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDC_CONFIG_LIST)));
  }
  EXPECT_EQ("0", SimControlText(dialog_, IDC_COUNT_FIELD));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
}

TEST_F(DialogTest, LoadShowsTheCountWritesTheLoadAndLocksTheList) {
  OpenAndLoad("АН-22");
  EXPECT_EQ(CountLabel(150), Label());
  EXPECT_EQ(25500.0, LastLoad());
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  // The load ends by telling the simulator to look at the emitters; it saves
  // no slot, so nothing else follows.
  ASSERT_FALSE(SimLog().empty());
  EXPECT_EQ(kSimFireEvent, SimLog().back().op);
  EXPECT_EQ(0x10202u, SimLog().back().args[0]);
}

TEST_F(DialogTest, CustomLoadUsesBothFieldsAsTyped) {
  OpenAndLoadCustom("20", "3");
  // Read into one shared buffer, the interval text used to replace the count.
  EXPECT_EQ(CountLabel(20), Label());
  EXPECT_EQ(20 * 170.0, LastLoad());
  PressDrop();
  EXPECT_EQ(3000u, SimFindTimer(dialog_, kDropTimerId)->period);
}

TEST_F(DialogTest, VisualisationBoxRemembersEachClick) {
  OpenDialog();
  ToggleVisualisation();
  EXPECT_NE(std::string::npos, SimReadConfig().find("visual_view=1"));
  ToggleVisualisation();
  EXPECT_NE(std::string::npos, SimReadConfig().find("visual_view=0"));
  EXPECT_NE(std::string::npos, SimReadConfig().find("[General]"));
}

TEST_F(DialogTest, EnterAndEscapeDoNothing) {
  OpenDialog();
  SimPress(dialog_, IDOK);
  SimPress(dialog_, IDCANCEL);
  SimPumpMessages();
  EXPECT_TRUE(IsWindowVisible(dialog_));
  SimMenuCommand(kMenuCommandId);
  EXPECT_EQ(1u, SimModuleDialogs().size()) << "the dialog is still the remembered one";
}

// Commands the dialog receives other than its controls' notifications, and
// whether it lost the activation meanwhile.
static std::vector<WPARAM> g_dialogCommands;
static HWND g_watchedDialog;
static bool g_watchedDialogDeactivated;
static LRESULT CALLBACK WatchDialogCommands(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->hwnd == g_watchedDialog && sent->message == WM_COMMAND &&
      LOWORD(sent->wParam) < IDC_EXIT_BUTTON)
    g_dialogCommands.push_back(LOWORD(sent->wParam));
  if (code == HC_ACTION && sent->hwnd == g_watchedDialog && sent->message == WM_ACTIVATE &&
      LOWORD(sent->wParam) == WA_INACTIVE)
    g_watchedDialogDeactivated = true;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Keys posted to the dialog's controls and taken off the queue by a loop that
// knows nothing of the dialog, as the simulator's does: Tab and Shift+Tab
// move between the tab stops, Enter and Escape reach the dialog as IDOK and
// IDCANCEL, which leave it open.
TEST_F(DialogTest, KeyboardWorksThroughTheSimulatorsMessageLoop) {
  const struct {
    const char* key;
    WPARAM virtualKey;
    bool shift;
    int focusAfter;  // control id
    WPARAM command;  // what the dialog receives; 0 none
  } keys[] = {
      {"Tab", VK_TAB, false, IDC_INTERVAL_FIELD, 0},
      {"Shift+Tab", VK_TAB, true, IDC_EXIT_BUTTON, 0},  // the drop button between them is disabled
      {"Enter", VK_RETURN, false, IDC_COUNT_FIELD, IDOK},
      {"Escape", VK_ESCAPE, false, IDC_COUNT_FIELD, IDCANCEL},
  };
  OpenDialog();
  g_watchedDialog = dialog_;
  HHOOK watch = SetWindowsHookExA(WH_CALLWNDPROC, WatchDialogCommands, nullptr, GetCurrentThreadId());
  for (const auto& key : keys) {
    SCOPED_TRACE(key.key);
    HWND start = GetDlgItem(dialog_, IDC_COUNT_FIELD);
    // Another program's window that comes up late (a story's child process,
    // under load) may take the foreground from the desktop's side, and with
    // it the focus; the key is then pressed again, at most twice more.
    for (int attempt = 0; attempt < 3; ++attempt) {
      SetFocus(start);
      SimPumpMessages();
      SetFocus(start);
      ASSERT_EQ(start, GetFocus());
      BYTE state[256];
      GetKeyboardState(state);
      state[VK_SHIFT] = key.shift ? 0x80 : 0;
      SetKeyboardState(state);
      g_dialogCommands.clear();
      g_watchedDialogDeactivated = false;
      PostMessageA(start, WM_KEYDOWN, key.virtualKey, 1);
      PostMessageA(start, WM_KEYUP, key.virtualKey, 0xC0000001);
      SimPumpMessages();
      state[VK_SHIFT] = 0;
      SetKeyboardState(state);
      if (!g_watchedDialogDeactivated) break;
      printf("%s: the dialog lost the foreground to another window; pressed again\n", key.key);
    }
    EXPECT_EQ(GetDlgItem(dialog_, key.focusAfter), GetFocus());
    std::vector<WPARAM> expected;
    if (key.command) expected.push_back(key.command);
    EXPECT_EQ(expected, g_dialogCommands);
    EXPECT_TRUE(IsWindowVisible(dialog_)) << "the dialog stays open";
    EXPECT_EQ(dialog_, SimVisibleDialog());
  }
  UnhookWindowsHookEx(watch);
  EXPECT_EQ(0, SimForwardedCommandCount()) << "no key became a command of the simulator";
}

// Opening and closing the dialog all evening leaves at most one idle dialog,
// with one gate timer; a hidden dialog whose drop runs goes on beside it, and
// destroying the idle ones never gives back the emitters it shows jumpers on.
TEST_F(DialogTest, OpenAndCloseAllEveningLeavesAtMostOneIdleDialog) {
  for (bool hiddenDrop : {false, true}) {
    SCOPED_TRACE(hiddenDrop ? "beside a drop in a hidden dialog" : "no drop");
    SimDestroyMainWindow();
    SimCreateMainWindow();
    SimFreeLibrary();
    module_ = SimLoadModule(ModuleDllPath().c_str());
    SimWriteConfig("[General]\r\nrealism=1\r\nvisual_view=1\r\n[an22]\r\neffect_name=fx\r\nposition_x=4\r\n");
    HWND dropping = nullptr;
    if (hiddenDrop) {
      OpenAndLoad("АН-22");
      PressDrop();
      TickDrop();
      ASSERT_FALSE(SimSlotIsOriginal(aircraft_, 1));
      dropping = dialog_;
      PressExit();
    }
    const size_t bound = hiddenDrop ? 2 : 1;
    for (int cycle = 0; cycle < 30; ++cycle) {
      OpenDialog();
      EXPECT_LE(SimModuleDialogs().size(), bound) << "cycle " << cycle;
      PressExit();
    }
    EXPECT_EQ(bound, SimModuleDialogs().size());
    EXPECT_EQ(static_cast<int>(bound), SimTimerCount(kGateTimerId));
    SimClearLog();
    for (const SimTimer& timer : SimTimers())
      if (timer.id == kGateTimerId) SimFireTimer(timer.window, kGateTimerId);
    EXPECT_EQ(static_cast<int>(bound), SimCount(kSimReadAircraftVariable)) << "one gate per dialog left";
    if (hiddenDrop) {
      ASSERT_TRUE(IsWindow(dropping));
      EXPECT_FALSE(SimSlotIsOriginal(aircraft_, 1)) << "the hidden drop still shows its jumpers";
      TickUntilDropEnds(dropping);
      EXPECT_EQ(CountLabel(0), SimControlText(dropping, IDC_COUNT_LABEL));
      for (int position = 1; position <= 4; ++position) EXPECT_TRUE(SimSlotIsOriginal(aircraft_, position));
    }
  }
}

// «Выход» hides the dialog and leaves the simulator's window as it found it:
// enabled, or disabled with the simulator's own modal dialog still active.
TEST_F(DialogTest, ExitHidesTheDialogAndLeavesTheSimulatorsWindowAsItWas) {
  for (bool simulatorModal : {false, true}) {
    SCOPED_TRACE(simulatorModal ? "while the simulator holds a modal dialog" : "simulator idle");
    OpenDialog();
    HWND first = dialog_;
    HWND main = SimMainWindow();
    HWND modal = nullptr;
    if (simulatorModal) {
      // As DialogBox does it: the owner disabled, the modal window active.
      modal = CreateWindowExA(WS_EX_DLGMODALFRAME, "#32770", "Simulator", WS_POPUP | WS_CAPTION | WS_VISIBLE, 50, 50,
                              200, 100, main, nullptr, nullptr, nullptr);
      ASSERT_TRUE(modal != nullptr);
      EnableWindow(main, FALSE);
      SetActiveWindow(modal);
    }
    SetActiveWindow(first);  // the pilot clicks our dialog
    ASSERT_EQ(first, GetActiveWindow());
    SimClearMainWindowMessages();
    PressExit();
    SimPumpMessages();
    EXPECT_TRUE(IsWindow(first));
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_TRUE(SimFindTimer(first, kGateTimerId) != nullptr) << "the hidden dialog keeps its timers";
    EXPECT_EQ(!simulatorModal, IsWindowEnabled(main) != FALSE);
    if (simulatorModal) {
      EXPECT_EQ(modal, GetActiveWindow()) << "the simulator's modal dialog keeps the activation";
      std::string enables;
      for (const SimWindowMessage& seen : SimMainWindowMessages())
        if (seen.message == WM_ENABLE) enables += seen.wParam ? "+" : "-";
      EXPECT_TRUE(enables.empty() || enables == "+-") << "WM_ENABLE on the simulator's window: " << enables;
      EnableWindow(main, TRUE);
      DestroyWindow(modal);
    }
    OpenDialog();
    EXPECT_NE(first, dialog_);
    EXPECT_FALSE(IsWindow(first)) << "the next menu command destroys the hidden dialog, idle";
    PressExit();
  }
}

// The dialog procedure's answers, seen from inside the module.
class DialogProcedureTest : public CoreTest {};

TEST_F(DialogProcedureTest, HandledCommandsReturnTrueAndOthersFalse) {
  HWND dialog = CreateControlDialog();
  ASSERT_TRUE(dialog != nullptr);
  EXPECT_TRUE(ControlDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONFIG_LIST, CBN_DROPDOWN), 0));
  EXPECT_TRUE(ControlDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_VISUAL_BOX, BN_CLICKED), 0));
  EXPECT_FALSE(ControlDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
  EXPECT_FALSE(ControlDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));
  EXPECT_FALSE(ControlDialogProc(dialog, WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED), 0));
  EXPECT_FALSE(ControlDialogProc(dialog, WM_TIMER, 1, 0));
  EXPECT_FALSE(ControlDialogProc(dialog, WM_CLOSE, 0, 0));
  EXPECT_FALSE(ControlDialogProc(dialog, WM_ACTIVATE, WA_ACTIVE, 0));
  DestroyWindow(dialog);
}
