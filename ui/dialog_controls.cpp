#include "ui/dialog_controls.h"

void EnableDialogControl(HWND dialog, int id, bool enabled) {
  EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

// DWLP_USER is the dialog's own word, free for its procedure to use.
void MarkDropRunning(HWND dialog, bool running) {
  SetWindowLongPtrA(dialog, DWLP_USER, running ? 1 : 0);
}

bool DropRunning(HWND dialog) {
  return GetWindowLongPtrA(dialog, DWLP_USER) != 0;
}
