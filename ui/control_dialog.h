// The module's only window: a modeless dialog from template 101 through which
// the pilot chooses a configuration, loads the aircraft, starts the drop and
// switches visualisation.
#pragma once

#include <windows.h>

#include "resources/resource.h"

// The dialog OpenControlDialog remembers; null when none is. The exit button
// forgets it while the hidden window lives on with its timers.
extern HWND g_controlDialog;

INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Destroys the module's hidden dialogs that run no drop; one that runs a drop
// goes on to its end.
void DestroyIdleDialogs();
