#include "ui/control_dialog.h"

#include "engine/drop_sequencer.h"
#include "engine/drop_state.h"
#include "engine/effect_slots.h"
#include "engine/text.h"
#include "host/host_services.h"
#include "ui/dialog_controls.h"
#include "ui/module_config.h"

HWND g_controlDialog;
char g_editBuffer[kTextBufferSize];
// The window the pilot left for a dialog of ours, as its activation reported it.
HWND g_activeBeforeDialog;

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
  // Hides the window without destroying it: a running drop finishes there.
  EndDialog(dialog, IDC_EXIT_BUTTON);
  if (ownerDisabled) EnableWindow(owner, FALSE);
}

static void OnActivate(WORD state, HWND other) {
  if (state != WA_INACTIVE) g_activeBeforeDialog = other;
}

// The simulator closes its window, and with it ours, perhaps mid-drop: the
// drop timer dies here, so the emitters get their own values back now, while
// the simulator still answers.
static void OnDestroy(HWND dialog) {
  if (g_controlDialog == dialog) g_controlDialog = NULL;
  if (g_effectSnapshot.held > 0) RestoreEffectSlots();
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
