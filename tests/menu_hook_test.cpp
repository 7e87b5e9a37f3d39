// The module inside the simulator's main window: its menu, its command and
// its diagnostic when the dialog cannot be made.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "host/menu_hook.h"
#include "tests/expected_texts.h"
#include "tests/fixtures.h"

using MenuHookTest = SimulatorTest;

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
  EXPECT_EQ(kMenuTitleText, titles.back());
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
  EXPECT_EQ(0, ModuleTitlesOnTheBar());
  SimFramePaint();
  EXPECT_EQ(1, ModuleTitlesOnTheBar());
}

TEST_F(MenuHookTest, OnlyAnExactTitleCountsAsOurs) {
  HMENU bar = GetMenu(SimMainWindow());
  AppendMenuA(bar, MF_STRING, 50001, "Зоркрылья");  // begins with our seven characters
  SimFramePaint();
  EXPECT_EQ(1, ModuleTitlesOnTheBar());

  DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION);
  AppendMenuA(bar, MF_STRING, 50002, kMenuTitleText);  // someone else's item with exactly our title
  SimFramePaint();
  EXPECT_EQ(1, ModuleTitlesOnTheBar());
}

class MenuHookWithoutMenuBarTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    SimFreeLibrary();
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
  SimFreeLibrary();
  SimDestroyMainWindow();
  module_ = SimLoadModule(ModuleDllPath().c_str());
  ASSERT_TRUE(module_ != nullptr);
  SimCreateMainWindow();  // a window created later is never hooked
  SimFramePaint();
  EXPECT_EQ(0, ModuleTitlesOnTheBar());
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
    if (ours) {
      EXPECT_EQ(0, result);
    }
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
  SimFreeLibrary();
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
  EXPECT_EQ(1, ModuleTitlesOnTheBar()) << "the module hooked our window";
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
  DialogFailureTest() { loadOptions_.failDialogCreation = true; }
};

TEST_F(DialogFailureTest, FailedCreationShowsTheFourLineDiagnosticEveryTime) {
  // Leave a count label in the module's text buffer first.
  SimSetDialogCreationFails(false);
  OpenAndLoad("АН-22");
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

// The menu scan asks each item of the bar for its text. For an item without
// text GetMenuStringW returns 0 and need not touch the buffer, which may hold
// anything, our title included: this one leaves the title there, as
// AppendMenuA would have stored it.
static decltype(&GetMenuStringW) g_realMenuString;
static int g_menuStringCalls;
static int WINAPI MenuStringLeavingTheTitle(HMENU menu, UINT item, LPWSTR text, int size, UINT flags) {
  ++g_menuStringCalls;
  const int length = g_realMenuString(menu, item, text, size, flags);
  if (length == 0 && text && size > 0) MultiByteToWideChar(CP_ACP, 0, kMenuTitleText, -1, text, size);
  return length;
}

class MenuScanTest : public CoreTest {};

TEST_F(MenuScanTest, ItemWithoutTextNeverMatchesLeftoverBytes) {
  HMENU bar = CreateMenu();
  AppendMenuA(bar, MF_SEPARATOR, 0, nullptr);
  HWND window = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPED, 0, 0, 200, 100, nullptr, bar, nullptr, nullptr);
  ASSERT_TRUE(window != nullptr);
  HMODULE self = GetModuleHandleA(NULL);
  g_menuStringCalls = 0;
  ASSERT_TRUE(SimPatchImport(self, "USER32.dll", "GetMenuStringW", reinterpret_cast<void*>(MenuStringLeavingTheTitle),
                             reinterpret_cast<void**>(&g_realMenuString)));
  EnsureModuleMenu(window);
  SimPatchImport(self, "USER32.dll", "GetMenuStringW", reinterpret_cast<void*>(g_realMenuString), nullptr);
  ASSERT_GT(g_menuStringCalls, 0) << "the scan reads the item's text";
  EXPECT_EQ(2, GetMenuItemCount(bar)) << "the separator was taken for the module's menu";
  DestroyWindow(window);
}
