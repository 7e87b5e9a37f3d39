#include "host/menu_hook.h"

#include "engine/effect_slots.h"
#include "engine/text.h"
#include "ui/control_dialog.h"

const char kMainWindowClass[] = "FS98MAIN";
const char kMenuTitle[] = "Зоркрыл";
const char kMenuItemText[] = "Десантирование";

HINSTANCE g_module;
HWND g_mainWindow;
WNDPROC g_previousWindowProc;
// Set once the library is being unloaded: a procedure hooked after ours may
// still call the hook, which must not put the menu back then.
bool g_detaching;

// The pop-ups this module put on the bar (the simulator may rebuild its bar,
// and each rebuild that drops ours makes us add a new one); the unload takes
// them off by handle, so it never removes a menu it did not add.
static const int kRememberedPopups = 8;
static HMENU g_modulePopups[kRememberedPopups];
static int g_nextPopup;

// Seven Windows-1251 characters and the terminator: a longer title that only
// begins with ours does not count.
static const size_t kMenuTitleCompare = sizeof(kMenuTitle);
static const int kMenuTextSize = 128;

void AttachToSimulator(HINSTANCE module) {
  g_module = module;
  g_mainWindow = FindWindowA(kMainWindowClass, NULL);
  // Without the window this fails and stores null; the hook is then never called.
  g_previousWindowProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MenuHook)));
}

static bool IsModuleDialog(HWND window) {
  char className[16];
  if (!GetClassNameA(window, className, sizeof(className)) || lstrcmpA(className, "#32770") != 0) return false;
  return reinterpret_cast<DLGPROC>(GetWindowLongPtrA(window, DWLP_DLGPROC)) == ControlDialogProc;
}

static BOOL CALLBACK DestroyModuleDialog(HWND window, LPARAM) {
  if (IsModuleDialog(window)) {
    // Timers die with the window, so none can fire into the unloaded module.
    DestroyWindow(window);
  }
  return TRUE;
}

static bool IsModulePopup(HMENU popup) {
  if (!popup) return false;
  for (int i = 0; i < kRememberedPopups; ++i) {
    // A handle can be reused after the simulator destroyed our pop-up with its
    // old bar: the content must still be ours.
    if (g_modulePopups[i] == popup) {
      return GetMenuItemCount(popup) == 1 && GetMenuItemID(popup, 0) == kMenuCommandId;
    }
  }
  return false;
}

// Leaves the bar as the simulator made it: after the unload the command would
// reach the simulator's own procedure, where 40001 may mean something else.
static void RemoveModuleMenu() {
  if (!g_mainWindow || !IsWindow(g_mainWindow)) return;
  HMENU menuBar = GetMenu(g_mainWindow);
  if (!menuBar) return;
  bool removed = false;
  for (int position = GetMenuItemCount(menuBar) - 1; position >= 0; --position) {
    if (IsModulePopup(GetSubMenu(menuBar, position))) {
      DeleteMenu(menuBar, position, MF_BYPOSITION);
      removed = true;
    }
  }
  // Under the loader lock a repaint is only safe on the window's own thread.
  DWORD windowThread = GetWindowThreadProcessId(g_mainWindow, NULL);
  if (removed && windowThread == GetCurrentThreadId()) DrawMenuBar(g_mainWindow);
}

void DetachFromSimulator() {
  g_detaching = true;
  // At the simulator's shutdown its services may be gone already: ask for the
  // aircraft only when there is something of ours to give back.
  if (g_effectSnapshot.held > 0) RestoreEffectSlots();
  // Hidden dialogs too: the exit button only hides them. Destroying them while
  // enumerating is safe, the list is taken before the callbacks run.
  EnumThreadWindows(GetCurrentThreadId(), DestroyModuleDialog, 0);
  g_controlDialog = NULL;
  if (g_mainWindow && g_previousWindowProc &&
      GetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(MenuHook)) {
    SetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previousWindowProc));
  }
  RemoveModuleMenu();
}

static bool MenuHasTitle(HMENU menuBar) {
  char text[kMenuTextSize];
  for (int position = 0; position < GetMenuItemCount(menuBar); ++position) {
    // An item without text leaves the buffer alone: stale bytes must not match.
    memset(text, 0, sizeof(text));
    GetMenuStringA(menuBar, position, text, kMenuTextSize, MF_BYPOSITION);
    if (memcmp(text, kMenuTitle, kMenuTitleCompare) == 0) return true;
  }
  return false;
}

void EnsureModuleMenu(HWND window) {
  HMENU menuBar = GetMenu(window);
  if (!menuBar || MenuHasTitle(menuBar)) return;
  HMENU popup = CreateMenu();
  AppendMenuA(popup, MF_STRING, kMenuCommandId, kMenuItemText);
  AppendMenuA(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), kMenuTitle);
  g_modulePopups[g_nextPopup] = popup;
  g_nextPopup = (g_nextPopup + 1) % kRememberedPopups;
}

LRESULT CALLBACK MenuHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // While going away the module only passes messages on.
  if (g_detaching) return CallWindowProcA(g_previousWindowProc, window, message, wParam, lParam);
  switch (message) {
    case WM_NCPAINT:
      EnsureModuleMenu(window);
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == kMenuCommandId) {
        OpenControlDialog();
        return 0;
      }
      break;
  }
  return CallWindowProcA(g_previousWindowProc, window, message, wParam, lParam);
}

static void ShowCreationFailure() {
  // Built afresh each time, so no earlier text shows and nothing overruns.
  // %Iu: msvcrt's pointer-sized unsigned, so 64-bit handles are not cut.
  FormatText(g_textBuffer, kTextBufferSize, "hInst : %Iu\nfrmMain : %d\nsimHWND : %Iu\nfrm_Main : %Iu",
             reinterpret_cast<UINT_PTR>(g_module), kDialogTemplateId, reinterpret_cast<UINT_PTR>(g_mainWindow),
             reinterpret_cast<UINT_PTR>(ControlDialogProc));
  MessageBoxA(NULL, g_textBuffer, "Form run", MB_OK | MB_ICONEXCLAMATION);
}

void OpenControlDialog() {
  if (g_controlDialog) return;
  g_controlDialog = CreateDialogParamA(g_module, MAKEINTRESOURCEA(kDialogTemplateId), g_mainWindow,
                                       ControlDialogProc, 0);
  if (!g_controlDialog) ShowCreationFailure();
}
