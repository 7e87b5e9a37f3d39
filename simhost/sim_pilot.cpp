// The pilot's hands: menu clicks and dialog input delivered as the messages
// the real controls send, and the readings a pilot would take off the screen.
#include "simhost/sim_internal.h"

#include "resources/resource.h"

namespace {

const char kDialogClass[] = "#32770";

// Every module dialog seen so far, oldest first; kept across calls because
// EnumThreadWindows reports Z order, which changes as dialogs are shown.
std::vector<HWND> g_dialogs;

bool Contains(const std::vector<HWND>& windows, HWND window) {
  for (HWND known : windows) {
    if (known == window) return true;
  }
  return false;
}

bool IsModuleDialog(HWND window) {
  HWND main = SimMainWindow();
  if (main == NULL || GetWindow(window, GW_OWNER) != main) return false;
  char className[64] = "";
  GetClassNameA(window, className, sizeof(className));
  return lstrcmpA(className, kDialogClass) == 0;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  if (IsModuleDialog(window)) reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

void DropDestroyedDialogs() {
  for (size_t i = g_dialogs.size(); i > 0; --i) {
    if (!IsWindow(g_dialogs[i - 1])) g_dialogs.erase(g_dialogs.begin() + (i - 1));
  }
}

LRESULT SendToMain(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND main = SimMainWindow();
  return main != NULL ? SendMessageA(main, message, wParam, lParam) : 0;
}

// What a control sends its dialog when the pilot uses it.
void Notify(HWND dialog, int controlId, WORD code) {
  HWND control = GetDlgItem(dialog, controlId);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, code), reinterpret_cast<LPARAM>(control));
}

}  // namespace

void SimNoteCreatedDialog(HWND dialog) {
  if (!Contains(g_dialogs, dialog)) g_dialogs.push_back(dialog);
}

void SimResetDialogs() { g_dialogs.clear(); }

void SimFramePaint() { SendToMain(WM_NCPAINT, 1, 0); }

LRESULT SimMenuCommand(WORD id) { return SendToMain(WM_COMMAND, MAKEWPARAM(id, 0), 0); }

std::vector<HWND> SimModuleDialogs() {
  DropDestroyedDialogs();
  std::vector<HWND> present;
  EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&present));
  // Newly found ones come topmost first; the one made last is usually on top,
  // so walking backwards keeps creation order.
  for (size_t i = present.size(); i > 0; --i) {
    if (!Contains(g_dialogs, present[i - 1])) g_dialogs.push_back(present[i - 1]);
  }
  std::vector<HWND> dialogs;
  for (HWND dialog : g_dialogs) {
    if (Contains(present, dialog)) dialogs.push_back(dialog);
  }
  return dialogs;
}

// The oldest visible one, should a faulty module show two.
HWND SimVisibleDialog() {
  for (HWND dialog : SimModuleDialogs()) {
    if (IsWindowVisible(dialog)) return dialog;
  }
  return NULL;
}

void SimChooseEntry(HWND dialog, int index) {
  SendDlgItemMessageA(dialog, IDC_CONFIG_LIST, CB_SETCURSEL, index, 0);
  Notify(dialog, IDC_CONFIG_LIST, CBN_SELCHANGE);
}

void SimTypeText(HWND dialog, int controlId, const char* text) { SetDlgItemTextA(dialog, controlId, text); }

void SimPress(HWND dialog, int controlId) { Notify(dialog, controlId, BN_CLICKED); }

// An auto check box flips itself before telling its dialog.
void SimToggleBox(HWND dialog, int controlId) {
  const UINT flipped = IsDlgButtonChecked(dialog, controlId) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  CheckDlgButton(dialog, controlId, flipped);
  Notify(dialog, controlId, BN_CLICKED);
}

std::string SimControlText(HWND dialog, int controlId) {
  char text[4096] = "";
  GetDlgItemTextA(dialog, controlId, text, sizeof(text));
  return text;
}

bool SimControlEnabled(HWND dialog, int controlId) {
  HWND control = GetDlgItem(dialog, controlId);
  return control != NULL && IsWindowEnabled(control);
}

bool SimBoxChecked(HWND dialog, int controlId) { return IsDlgButtonChecked(dialog, controlId) == BST_CHECKED; }

std::vector<std::string> SimListEntries(HWND dialog, int controlId) {
  std::vector<std::string> entries;
  const LRESULT count = SendDlgItemMessageA(dialog, controlId, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendDlgItemMessageA(dialog, controlId, CB_GETLBTEXTLEN, i, 0);
    if (length < 0) break;
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    SendDlgItemMessageA(dialog, controlId, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
    entries.push_back(&text[0]);
  }
  return entries;
}

int SimListSelection(HWND dialog, int controlId) {
  return static_cast<int>(SendDlgItemMessageA(dialog, controlId, CB_GETCURSEL, 0, 0));
}
