// The control dialog as the pilot meets it: creation, the list, the fields,
// the buttons and the visualisation box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures.h"
#include "ui/control_dialog.h"

static const char kOneStream[] = "Выброска производится:\r\n   - 1 поток по 1 человеку";
static const char kTwoStreams[] = "Выброска производится:\r\n   - 2 потока по 1 человеку";

using DialogTest = SimulatorTest;

TEST_F(DialogTest, OpensWithCustomEntrySelectedAndNothingToLoadYet) {
  ASSERT_TRUE(OpenDialog() != nullptr);
  EXPECT_EQ("0", SimControlText(dialog_, IDC_COUNT_FIELD));
  EXPECT_EQ("0", SimControlText(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_EQ(kOneStream, SimControlText(dialog_, IDC_STREAMS_TEXT));
  EXPECT_EQ(CountLabel(0), Label());
  EXPECT_EQ((std::vector<std::string>{"Пользовательская", "МИ-8", "АН-2", "АН-12", "АН-22", "АН-26", "ИЛ-76"}),
            SimListEntries(dialog_, IDC_CONFIG_LIST));
  EXPECT_EQ(0, SimListSelection(dialog_, IDC_CONFIG_LIST));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_VISUAL_BOX));
  EXPECT_FALSE(SimBoxChecked(dialog_, IDC_VISUAL_BOX));
  const SimTimer* gate = SimFindTimer(dialog_, IDT_GATE_TIMER);
  ASSERT_TRUE(gate != nullptr);
  EXPECT_EQ(250u, gate->period);
  EXPECT_EQ(0, SimTimerCount(IDT_DROP_TIMER));
  EXPECT_EQ("", SimReadConfig()) << "opening the dialog writes nothing";
}

TEST_F(DialogTest, LabelStartsAtZeroWhateverTheStateHolds) {
  OpenDialog();
  ChooseAircraft("АН-2");
  PressLoad();
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
  SimMenuCommand(IDM_DROP_COMMAND);
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
  EXPECT_EQ(kTwoStreams, SimControlText(dialog_, IDC_STREAMS_TEXT));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_COUNT_FIELD));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_EQ(CountLabel(0), Label()) << "choosing never changes the count label";

  ChooseAircraft("Пользовательская");
  EXPECT_EQ("0", SimControlText(dialog_, IDC_COUNT_FIELD));
  EXPECT_EQ("0", SimControlText(dialog_, IDC_INTERVAL_FIELD));
  EXPECT_EQ(kOneStream, SimControlText(dialog_, IDC_STREAMS_TEXT));
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
  OpenDialog();
  ChooseAircraft("АН-22");
  PressLoad();
  EXPECT_EQ(CountLabel(150), Label());
  EXPECT_EQ(25500.0, LastLoad());
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_DROP_BUTTON));
  EXPECT_FALSE(SimControlEnabled(dialog_, IDC_CONFIG_LIST));
  EXPECT_TRUE(SimControlEnabled(dialog_, IDC_LOAD_BUTTON));
  // The snapshot is taken after the load: its event comes last.
  ASSERT_FALSE(SimLog().empty());
  EXPECT_EQ(kSimFireEvent, SimLog().back().op);
  EXPECT_EQ(0x10202u, SimLog().back().args[0]);
}

TEST_F(DialogTest, CustomLoadUsesBothFieldsAsTyped) {
  OpenDialog();
  ChooseAircraft("Пользовательская");
  SimTypeText(dialog_, IDC_COUNT_FIELD, "20");
  SimTypeText(dialog_, IDC_INTERVAL_FIELD, "3");
  PressLoad();
  // Read into one shared buffer, the interval text used to replace the count.
  EXPECT_EQ(CountLabel(20), Label());
  EXPECT_EQ(20 * 170.0, LastLoad());
  PressDrop();
  EXPECT_EQ(3000u, SimFindTimer(dialog_, IDT_DROP_TIMER)->period);
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
  SimMenuCommand(IDM_DROP_COMMAND);
  EXPECT_EQ(1u, SimModuleDialogs().size()) << "the dialog is still the remembered one";
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
    EXPECT_TRUE(SimFindTimer(first, IDT_GATE_TIMER) != nullptr) << "the hidden dialog keeps its timers";
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
    const size_t dialogs = SimModuleDialogs().size();
    OpenDialog();
    EXPECT_NE(first, dialog_);
    EXPECT_EQ(dialogs + 1, SimModuleDialogs().size());
    EXPECT_EQ(static_cast<int>(dialogs + 1), SimTimerCount(IDT_GATE_TIMER));
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
