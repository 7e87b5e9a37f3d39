// Attachment to the simulator's main window: the MenuHook in front of its
// window procedure adds the module's menu and turns its command into the
// control dialog.
#pragma once

#include <windows.h>

#include "resources/resource.h"

const WORD kMenuCommandId = IDM_DROP_COMMAND;
extern const char kMainWindowClass[];
extern const char kMenuTitle[];
extern const char kMenuItemText[];

extern HINSTANCE g_module;
extern HWND g_mainWindow;
extern WNDPROC g_previousWindowProc;
// The pop-up the module last put on the bar.
extern HMENU g_modulePopup;

// Process attach: remembers the module, finds the main window, keeps the
// module in the process and hooks the window.
void AttachToSimulator(HINSTANCE module);

LRESULT CALLBACK MenuHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Adds "Зоркрыл" to the window's menu bar unless an item with that title, or
// the module's own pop-up, is there.
void EnsureModuleMenu(HWND window);

// Creates the control dialog unless one is remembered.
void OpenControlDialog();
