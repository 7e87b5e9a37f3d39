#include "ui/control_dialog.h"

#include "engine/drop_sequencer.h"
#include "engine/drop_state.h"
#include "engine/effect_slots.h"
#include "engine/text.h"
#include "host/host_services.h"
#include "ui/dialog_controls.h"
#include "ui/module_config.h"

HWND g_controlDialog;
// The count field's text at load; the interval's is kept apart, in a local.
static char g_editBuffer[kTextBufferSize];
// The window the pilot left for a dialog of ours, as its activation reported it.
static HWND g_activeBeforeDialog;
// Keyboard navigation for the dialogs; installed with the first one, never removed.
static HHOOK g_keyboardHook;

static const ATOM kDialogClassAtom = 32770;  // "#32770"

static bool IsModuleDialog(HWND window) {
  return GetClassWord(window, GCW_ATOM) == kDialogClassAtom &&
         GetWindowLongPtrA(window, DWLP_DLGPROC) == reinterpret_cast<LONG_PTR>(ControlDialogProc);
}

// The simulator's message loop knows nothing of a module's modeless dialog and
// never calls IsDialogMessage, so Tab would only beep. Keys for the visible
// dialog go through it here; what it handled reaches the loop as WM_NULL.
// Only removed messages: a peeked one comes back.
static LRESULT CALLBACK DialogKeyboardHook(int code, WPARAM removal, LPARAM lParam) {
  MSG* message = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && removal == PM_REMOVE && message->message >= WM_KEYFIRST &&
      message->message <= WM_KEYLAST && g_controlDialog && IsWindowVisible(g_controlDialog) &&
      (message->hwnd == g_controlDialog || IsChild(g_controlDialog, message->hwnd)) &&
      IsDialogMessageA(g_controlDialog, message)) {
    message->message = WM_NULL;
    message->wParam = 0;
    message->lParam = 0;
  }
  return CallNextHookEx(g_keyboardHook, code, removal, lParam);
}

// On the thread that creates the dialogs, the simulator's user-interface
// thread. The module stays in the process, so the hook never outlives its code.
static void InstallKeyboardHook() {
  if (!g_keyboardHook) g_keyboardHook = SetWindowsHookExA(WH_GETMESSAGE, DialogKeyboardHook, NULL, GetCurrentThreadId());
}

static BOOL OnInitDialog(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_COUNT_FIELD, "0");
  SetDlgItemTextA(dialog, IDC_INTERVAL_FIELD, "0");
  SetDlgItemTextA(dialog, IDC_STREAMS_TEXT, StreamDescription(kOneStream));
  char label[64];
  FormatCountLabel(label, sizeof(label), 0);
  SetDlgItemTextA(dialog, IDC_COUNT_LABEL, label);

  for (int index = 0; index < kPresetCount; ++index) {
    SendDlgItemMessageA(dialog, IDC_CONFIG_LIST, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(kAircraftPresets[index].listText));
  }
  SendDlgItemMessageA(dialog, IDC_CONFIG_LIST, CB_SETCURSEL, kCustomPreset, 0);

  SetTimer(dialog, kGateTimerId, kGatePeriod, DialogTimerProc);

  EnableDialogControl(dialog, IDC_DROP_BUTTON, false);
  EnableDialogControl(dialog, IDC_LOAD_BUTTON, false);
  EnableDialogControl(dialog, IDC_CONFIG_LIST, true);

  // Decided once: an aircraft without emitters has nothing to show jumpers with.
  EnableDialogControl(dialog, IDC_VISUAL_BOX, EffectSlotHead(CacheCurrentAircraft()) != NULL);

  ReadGeneralSwitches();
  // Posted, not sent, and not a click: creation must not write the setting back.
  PostMessageA(GetDlgItem(dialog, IDC_VISUAL_BOX), BM_SETCHECK,
               g_moduleConfig.visualView == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  InstallKeyboardHook();
  return TRUE;
}

static void OnExitButton(HWND dialog) {
  g_controlDialog = NULL;
  // EndDialog enables the owner, as after a modal dialog, and activates it
  // when ours was active. While the simulator holds a modal dialog of its own,
  // its window must stay disabled and that dialog keep the activation.
  HWND owner = GetWindow(dialog, GW_OWNER);
  const bool ownerDisabled = owner && !IsWindowEnabled(owner);
  if (ownerDisabled && GetActiveWindow() == dialog && IsWindow(g_activeBeforeDialog) &&
      g_activeBeforeDialog != owner) {
    SetActiveWindow(g_activeBeforeDialog);
  }
  // Hides the window without destroying it: a running drop finishes there,
  // and the next menu command destroys it once it runs none.
  EndDialog(dialog, IDC_EXIT_BUTTON);
  if (ownerDisabled) EnableWindow(owner, FALSE);
}

static void OnActivate(WORD state, HWND other) {
  if (state != WA_INACTIVE) g_activeBeforeDialog = other;
}

struct DropSearch {
  HWND except;
  bool found;
};

static BOOL CALLBACK FindRunningDrop(HWND window, LPARAM context) {
  DropSearch* search = reinterpret_cast<DropSearch*>(context);
  if (window != search->except && IsModuleDialog(window) && DropRunning(window)) search->found = true;
  return !search->found;
}

static bool AnotherDialogRunsADrop(HWND dialog) {
  DropSearch search = {dialog, false};
  EnumThreadWindows(GetCurrentThreadId(), FindRunningDrop, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A dialog goes: an idle one before the next opens, or all of them as the
// simulator closes its window, perhaps mid-drop. A drop timer dies with its
// dialog, so the emitters get their own values back now, while the simulator
// still answers; but not while another dialog's drop still shows its jumpers,
// which gives them back at its own end.
static void OnDestroy(HWND dialog) {
  if (g_controlDialog == dialog) g_controlDialog = NULL;
  if (g_effectSnapshot.held > 0 && !AnotherDialogRunsADrop(dialog)) RestoreEffectSlots();
}

// Collected first and destroyed after: windows are not destroyed while the
// system walks the list it made of them.
const int kIdleBatch = 8;
struct IdleDialogs {
  HWND found[kIdleBatch];
  int count;
};

static BOOL CALLBACK CollectIdleDialog(HWND window, LPARAM context) {
  IdleDialogs* idle = reinterpret_cast<IdleDialogs*>(context);
  if (IsModuleDialog(window) && !IsWindowVisible(window) && !DropRunning(window)) idle->found[idle->count++] = window;
  return idle->count < kIdleBatch;
}

void DestroyIdleDialogs() {
  IdleDialogs idle;
  do {
    idle.count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CollectIdleDialog, reinterpret_cast<LPARAM>(&idle));
    for (int i = 0; i < idle.count; ++i) DestroyWindow(idle.found[i]);
  } while (idle.count == kIdleBatch);
}

static void OnConfigListChange(HWND dialog) {
  int index = static_cast<int>(SendDlgItemMessageA(dialog, IDC_CONFIG_LIST, CB_GETCURSEL, 0, 0));
  PresetTexts texts;
  if (!SelectPreset(index, &texts)) return;
  SetDlgItemTextA(dialog, IDC_COUNT_FIELD, texts.countText);
  SetDlgItemTextA(dialog, IDC_INTERVAL_FIELD, texts.intervalText);
  SetDlgItemTextA(dialog, IDC_STREAMS_TEXT, texts.description);
  bool custom = index == kCustomPreset;
  EnableDialogControl(dialog, IDC_COUNT_FIELD, custom);
  EnableDialogControl(dialog, IDC_INTERVAL_FIELD, custom);
  EnableDialogControl(dialog, IDC_LOAD_BUTTON, true);
}

static void OnLoadButton(HWND dialog) {
  // The count text and the interval text are kept apart: read into one
  // buffer, the interval would overwrite the count before it is parsed.
  char intervalText[kTextBufferSize];
  g_editBuffer[0] = '\0';
  intervalText[0] = '\0';
  if (g_dropState.presetIndex == kCustomPreset) {
    GetWindowTextA(GetDlgItem(dialog, IDC_COUNT_FIELD), g_editBuffer, kTextBufferSize);
    GetWindowTextA(GetDlgItem(dialog, IDC_INTERVAL_FIELD), intervalText, kTextBufferSize);
  }
  SetDlgItemTextA(dialog, IDC_COUNT_LABEL, LoadAircraft(g_editBuffer, intervalText));
  EnableDialogControl(dialog, IDC_DROP_BUTTON, true);
  EnableDialogControl(dialog, IDC_CONFIG_LIST, false);
  RefreshEffectSlots();
}

static void OnVisualBox(HWND dialog) {
  WriteVisualView(IsDlgButtonChecked(dialog, IDC_VISUAL_BOX) == BST_CHECKED);
}

static BOOL OnCommand(HWND dialog, WORD id, WORD notification) {
  switch (id) {
    case IDC_EXIT_BUTTON:
      OnExitButton(dialog);
      return TRUE;
    case IDC_DROP_BUTTON:
      StartDrop(dialog);
      return TRUE;
    case IDC_CONFIG_LIST:
      if (notification == CBN_SELCHANGE) OnConfigListChange(dialog);
      return TRUE;
    case IDC_LOAD_BUTTON:
      OnLoadButton(dialog);
      return TRUE;
    case IDC_VISUAL_BOX:
      OnVisualBox(dialog);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK ControlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam), reinterpret_cast<HWND>(lParam));
      break;
    case WM_DESTROY:
      OnDestroy(dialog);
      break;
  }
  return FALSE;
}
