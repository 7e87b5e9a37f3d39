// Attachment to the simulator's main window: the MenuHook in front of its
// window procedure adds the module's menu and turns its command into the
// control dialog.
#pragma once

#include <windows.h>

#include "resources/resource.h"

extern const char kMainWindowClass[];
extern const char kMenuTitle[];
extern const char kMenuItemText[];

// Process attach: remembers the module, fixes the configuration file's place,
// finds the simulator's main window in this process, keeps the module in the
// process and hooks the window.
void AttachToSimulator(HINSTANCE module);

LRESULT CALLBACK MenuHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Adds "Зоркрыл" to the window's menu bar unless an item with that title is there.
void EnsureModuleMenu(HWND window);

// Creates the control dialog unless one is remembered.
void OpenControlDialog();
