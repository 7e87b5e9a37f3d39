// The module's only window: a modeless dialog from template 101 through which
// the pilot chooses a configuration, loads the aircraft, starts the drop and
// switches visualisation.
#pragma once

#include <windows.h>

#include "resources/resource.h"

const int kDialogTemplateId = IDD_CONTROL_DIALOG;

// The dialog OpenControlDialog remembers; null when none is. The exit button
// forgets it while the hidden window lives on with its timers.
extern HWND g_controlDialog;

// The window that was active before a dialog of ours took the activation.
extern HWND g_activeBeforeDialog;

// Text read from the dialog's edit fields.
extern char g_editBuffer[];

INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
