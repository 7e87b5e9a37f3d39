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
extern bool g_detaching;

// Process attach: remembers the module, finds the main window, hooks it.
void AttachToSimulator(HINSTANCE module);
// Unload while the simulator runs: gives back the slots, the dialogs, the
// window and the menu bar.
void DetachFromSimulator();

LRESULT CALLBACK MenuHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Adds "Зоркрыл" to the window's menu bar unless an item with that title is there.
void EnsureModuleMenu(HWND window);

// Creates the control dialog unless one is remembered.
void OpenControlDialog();
