#include "host/menu_hook.h"

#include "engine/text.h"
#include "ui/control_dialog.h"

const char kMainWindowClass[] = "FS98MAIN";
const char kMenuTitle[] = "Зоркрыл";
const char kMenuItemText[] = "Десантирование";

HINSTANCE g_module;
HWND g_mainWindow;
WNDPROC g_previousWindowProc;
HMENU g_modulePopup;

// Seven Windows-1251 characters and the terminator: a longer title that only
// begins with ours does not count.
static const size_t kMenuTitleCompare = sizeof(kMenuTitle);
static const int kMenuTextSize = 128;

// The simulator, or a tool that manages its modules, may call FreeLibrary at
// any moment: inside a message that went through the hook (the hook is then
// still on the stack), from another thread (the dialogs cannot be destroyed
// there), or with another module's subclass in front of ours (it forwards to
// us). No undoing at detach survives all of these, so the module stays in the
// process once it has hooked the window; it goes away with the process.
static bool PinModule() {
  HMODULE pinned = NULL;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&g_module), &pinned) != FALSE;
}

void AttachToSimulator(HINSTANCE module) {
  g_module = module;
  g_mainWindow = FindWindowA(kMainWindowClass, NULL);
  // Without the window, or unpinned, nothing of the simulator's leads here and
  // the module may be unloaded freely; the hook is then never called.
  if (!g_mainWindow || !PinModule()) return;
  g_previousWindowProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MenuHook)));
}

// Where the ANSI code page is multibyte (932, 936, 949, 950, or 65001), the
// Windows-1251 title comes back from the menu's Unicode text as other bytes;
// the module's own pop-up still holds its single command.
static bool IsModulePopup(HMENU popup) {
  return popup && popup == g_modulePopup && GetMenuItemCount(popup) == 1 &&
         GetMenuItemID(popup, 0) == kMenuCommandId;
}

static bool ModuleMenuPresent(HMENU menuBar) {
  char text[kMenuTextSize];
  for (int position = 0; position < GetMenuItemCount(menuBar); ++position) {
    // An item without text leaves the buffer alone: stale bytes must not match.
    memset(text, 0, sizeof(text));
    GetMenuStringA(menuBar, position, text, kMenuTextSize, MF_BYPOSITION);
    if (memcmp(text, kMenuTitle, kMenuTitleCompare) == 0) return true;
    if (IsModulePopup(GetSubMenu(menuBar, position))) return true;
  }
  return false;
}

void EnsureModuleMenu(HWND window) {
  HMENU menuBar = GetMenu(window);
  if (!menuBar || ModuleMenuPresent(menuBar)) return;
  HMENU popup = CreateMenu();
  AppendMenuA(popup, MF_STRING, kMenuCommandId, kMenuItemText);
  AppendMenuA(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), kMenuTitle);
  g_modulePopup = popup;
}

LRESULT CALLBACK MenuHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
