#include "host/menu_hook.h"

#include "engine/text.h"
#include "ui/control_dialog.h"
#include "ui/module_config.h"

const char kMainWindowClass[] = "FS98MAIN";
const char kMenuTitle[] = "Зоркрыл";
const char kMenuItemText[] = "Десантирование";

// Set once at attach; the hook and OpenControlDialog are their only readers.
static HINSTANCE g_module;
static HWND g_mainWindow;
static WNDPROC g_previousWindowProc;

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

// Another process's FS98MAIN window (a second simulator, or a tool that
// mimics the window for its client programs) may lie above ours, and a window
// of another process cannot be subclassed. Asks the window nothing, so it is
// as safe under the loader lock as FindWindowA.
static HWND FindOwnMainWindow() {
  const DWORD process = GetCurrentProcessId();
  HWND window = NULL;
  while ((window = FindWindowExA(NULL, window, kMainWindowClass, NULL)) != NULL) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process) return window;
  }
  return NULL;
}

void AttachToSimulator(HINSTANCE module) {
  g_module = module;
  ResolveConfigPath();
  g_mainWindow = FindOwnMainWindow();
  // Without the window, or unpinned, nothing of the simulator's leads here and
  // the module may be unloaded freely; the hook is then never called.
  if (!g_mainWindow || !PinModule()) return;
  g_previousWindowProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MenuHook)));
}

// Compared as the menu holds it, in UTF-16: AppendMenuA converted our title
// from the ANSI code page, and the same conversion here matches it exactly
// under any code page, multibyte ones included, where the title's
// Windows-1251 bytes do not come back from GetMenuStringA. A longer title
// that only begins with ours does not count, and neither does an item
// without text, whatever the buffer held.
static bool ModuleMenuPresent(HMENU menuBar) {
  WCHAR title[kMenuTextSize];
  // Counted, as AppendMenuA counts it: a lead byte last is converted alike.
  const int titleLength = MultiByteToWideChar(CP_ACP, 0, kMenuTitle, sizeof(kMenuTitle) - 1, title, kMenuTextSize);
  WCHAR text[kMenuTextSize];
  for (int position = 0; position < GetMenuItemCount(menuBar); ++position) {
    const int length = GetMenuStringW(menuBar, position, text, kMenuTextSize, MF_BYPOSITION);
    if (length > 0 && length == titleLength && memcmp(text, title, length * sizeof(WCHAR)) == 0) return true;
  }
  return false;
}

void EnsureModuleMenu(HWND window) {
  HMENU menuBar = GetMenu(window);
  if (!menuBar || ModuleMenuPresent(menuBar)) return;
  HMENU popup = CreateMenu();
  AppendMenuA(popup, MF_STRING, kMenuCommandId, kMenuItemText);
  AppendMenuA(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), kMenuTitle);
  // A changed bar must be redrawn by whoever changed it; the frame paint
  // that follows would not remeasure it.
  DrawMenuBar(window);
}

LRESULT CALLBACK MenuHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCPAINT:
      EnsureModuleMenu(window);
      break;
    case WM_COMMAND:
      // From the menu or an accelerator only: a control of the simulator's
      // window with the same id sends its own handle along.
      if (LOWORD(wParam) == kMenuCommandId && lParam == 0) {
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
  // Every open and close would otherwise leave a hidden dialog behind, its
  // gate timer running for the rest of the session.
  DestroyIdleDialogs();
  // host/ creates the dialog that ui/ implements: the menu command is the
  // only way into it, and the module handle and the owner are known here.
  g_controlDialog = CreateDialogParamA(g_module, MAKEINTRESOURCEA(kDialogTemplateId), g_mainWindow,
                                       ControlDialogProc, 0);
  if (!g_controlDialog) ShowCreationFailure();
}
