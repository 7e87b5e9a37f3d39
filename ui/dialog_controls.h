// Small helpers on the control dialog's controls, shared by the dialog
// procedure and the drop sequencer, which both act on them by id.
#pragma once

#include <windows.h>

void EnableDialogControl(HWND dialog, int id, bool enabled);
