// Small helpers on the control dialog and its controls, shared by the dialog
// procedure and the drop sequencer, which both act on them.
#pragma once

#include <windows.h>

void EnableDialogControl(HWND dialog, int id, bool enabled);

// Whether the dialog's drop timer runs: window timers cannot be asked, so the
// dialog carries a mark of its own from the drop button to the end of the drop.
void MarkDropRunning(HWND dialog, bool running);
bool DropRunning(HWND dialog);
