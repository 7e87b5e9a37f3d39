// The simulator's main window: class "FS98MAIN", registered ANSI so a module
// that subclasses it gets plain function pointers back from GetWindowLongPtrA.
#include "simhost/sim_internal.h"

namespace {

const char kMainClass[] = "FS98MAIN";
const char kMainTitle[] = "Stand-in simulator";

// The simulator's own commands, far from the module's 40001 and up.
const UINT kCockpitCommand = 30101;
const UINT kAboutCommand = 30201;

HWND g_mainWindow = NULL;
HMENU g_spareMenuBar = NULL;  // the simulator's other bar while it is off the window
int g_forwardedCommands = 0;
WPARAM g_lastForwardedCommand = 0;
std::vector<SimWindowMessage> g_mainMessages;
const size_t kMainMessagesKept = 4096;
UINT g_freeLibraryInside = 0;
WORD g_freeLibraryInsideCommand = 0;

bool IsFreeLibraryMessage(UINT message, WPARAM wParam) {
  return g_freeLibraryInside != 0 && message == g_freeLibraryInside &&
         (message != WM_COMMAND || LOWORD(wParam) == g_freeLibraryInsideCommand);
}

// Counts what reaches the simulator itself: commands a module's subclass
// passed on (or never saw), and the messages it is sent.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_mainMessages.size() < kMainMessagesKept) {
    SimWindowMessage seen = {message, wParam, lParam};
    g_mainMessages.push_back(seen);
  }
  if (IsFreeLibraryMessage(message, wParam)) {
    // Once, as a simulator's own handler would: the module's hook is on the stack below.
    g_freeLibraryInside = 0;
    SimFreeLibrary();
  }
  if (message == WM_COMMAND) {
    ++g_forwardedCommands;
    g_lastForwardedCommand = wParam;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterMainClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.hCursor = LoadCursor(NULL, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kMainClass;
  registered = RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return registered;
}

HMENU NewPopup(const char* itemText, UINT command) {
  HMENU popup = CreatePopupMenu();
  AppendMenuA(popup, MF_STRING, command, itemText);
  return popup;
}

HMENU NewMenuBar() {
  HMENU bar = CreateMenu();
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(NewPopup("Выход", kSimExitCommand)), "Полёт");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(NewPopup("Приборная доска", kCockpitCommand)), "Вид");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(NewPopup("О программе", kAboutCommand)), "Справка");
  return bar;
}

struct OwnedWindows {
  HWND owner;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOwned(HWND window, LPARAM context) {
  OwnedWindows* owned = reinterpret_cast<OwnedWindows*>(context);
  if (GetWindow(window, GW_OWNER) == owned->owner) owned->found.push_back(window);
  return TRUE;
}

}  // namespace

// A second call starts over with a fresh window, so a test can switch the menu bar off.
HWND SimCreateMainWindow(bool withMenuBar, bool visible) {
  if (g_mainWindow != NULL) SimDestroyMainWindow();
  if (!RegisterMainClass()) return NULL;
  SimResetForwardedCommands();
  HMENU menuBar = withMenuBar ? NewMenuBar() : NULL;
  g_mainWindow = CreateWindowExA(0, kMainClass, kMainTitle, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), CW_USEDEFAULT,
                                 CW_USEDEFAULT, 800, 600, NULL, menuBar, GetModuleHandleA(NULL), NULL);
  if (g_mainWindow == NULL && menuBar != NULL) DestroyMenu(menuBar);
  SimPumpMessages();
  return g_mainWindow;
}

// Owned windows go first and explicitly, so a module's dialog is destroyed
// while the main window (and any subclass on it) still exists.
void SimDestroyMainWindow() {
  if (g_mainWindow == NULL) return;
  if (IsWindow(g_mainWindow)) {
    OwnedWindows owned = {g_mainWindow, std::vector<HWND>()};
    EnumThreadWindows(GetCurrentThreadId(), CollectOwned, reinterpret_cast<LPARAM>(&owned));
    for (HWND window : owned.found) {
      if (IsWindow(window)) DestroyWindow(window);
    }
    DestroyWindow(g_mainWindow);
  }
  g_mainWindow = NULL;
  if (g_spareMenuBar != NULL) DestroyMenu(g_spareMenuBar);
  g_spareMenuBar = NULL;
  SimPumpMessages();
  SimResetDialogs();
  SimDropDeadTimers();
}

HWND SimMainWindow() { return g_mainWindow; }

HMENU SimSwitchMenuBar() {
  if (g_mainWindow == NULL) return NULL;
  if (g_spareMenuBar == NULL) g_spareMenuBar = NewMenuBar();
  HMENU leaving = GetMenu(g_mainWindow);
  SetMenu(g_mainWindow, g_spareMenuBar);
  g_spareMenuBar = leaving;
  return leaving;
}

int SimForwardedCommandCount() { return g_forwardedCommands; }

const std::vector<SimWindowMessage>& SimMainWindowMessages() { return g_mainMessages; }

void SimClearMainWindowMessages() { g_mainMessages.clear(); }

void SimFreeLibraryInside(UINT message, WORD command) {
  g_freeLibraryInside = message;
  g_freeLibraryInsideCommand = command;
}

WPARAM SimLastForwardedCommand() { return g_lastForwardedCommand; }

void SimResetForwardedCommands() {
  g_forwardedCommands = 0;
  g_lastForwardedCommand = 0;
  g_mainMessages.clear();
  g_freeLibraryInside = 0;
}

// Bounded, so a window that never validates itself cannot hang a test.
void SimPumpMessages() {
  const int kMaxMessages = 100000;
  MSG message;
  for (int i = 0; i < kMaxMessages && PeekMessageA(&message, NULL, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) continue;  // the tests own the loop; nothing here should end it
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

std::vector<std::string> SimMenuBarTitles() {
  std::vector<std::string> titles;
  HMENU bar = g_mainWindow != NULL ? GetMenu(g_mainWindow) : NULL;
  if (bar == NULL) return titles;
  const int count = GetMenuItemCount(bar);
  for (int i = 0; i < count; ++i) {
    char text[256] = "";
    GetMenuStringA(bar, i, text, sizeof(text), MF_BYPOSITION);
    titles.push_back(text);
  }
  return titles;
}
