#include "engine/drop_sequencer.h"

#include "engine/drop_state.h"
#include "engine/effect_slots.h"
#include "engine/text.h"
#include "host/host_services.h"
#include "ui/dialog_controls.h"
#include "ui/module_config.h"

// The last value the gate read. Kept as the design has it; nothing reads it.
static double g_gateValue;

// On-screen messages: the text, then the style and placement numbers the
// simulator's message service expects.
static const DWORD kMessageStyle = 6;
static const DWORD kMessagePlacement = 60;

#ifndef USER_TIMER_MAXIMUM
#define USER_TIMER_MAXIMUM 0x7FFFFFFF
#endif

UINT DropTimerPeriod(double interval) {
  // Stored as a double first: x87 code would otherwise truncate the 80-bit
  // product and make 0.7 s into 699 ms.
  volatile double milliseconds = interval * 1000.0;
  double period = milliseconds;
  if (!(period > 0.0)) return 0;  // negative, zero or not a number
  if (period >= static_cast<double>(USER_TIMER_MAXIMUM)) return USER_TIMER_MAXIMUM;
  return static_cast<UINT>(period);
}

bool GateAllows(double value) {
  // The value truncated toward zero must be 1; comparing the double itself
  // avoids converting huge values and refuses NaN.
  return value >= 1.0 && value < 2.0;
}

// The sequencer acts on the dialog's controls by their ids, through ui/'s
// helpers: the drop's progress decides what the pilot may press next.
void StartDrop(HWND dialog) {
  // Same id: a second press replaces the running timer with the current interval.
  SetTimer(dialog, kDropTimerId, DropTimerPeriod(g_dropState.interval), DialogTimerProc);
  MarkDropRunning(dialog, true);
  EnableDialogControl(dialog, IDC_LOAD_BUTTON, false);
  ShowText("Командир, начинаем выброску...", kMessageStyle, kMessagePlacement, kMessagePlacement);
}

void DropTick(HWND dialog) {
  // Below zero too: a count the steps cannot bring to exactly zero must still end.
  if (g_dropState.count <= 0) {
    EndDrop(dialog);
    return;
  }
  EnableDialogControl(dialog, IDC_DROP_BUTTON, true);
  g_dropState.count -= g_dropState.step;
  char label[64];
  FormatCountLabel(label, sizeof(label), g_dropState.count);
  SetDlgItemTextA(dialog, IDC_COUNT_LABEL, label);
  LoadPayload();
  if (IsDlgButtonChecked(dialog, IDC_VISUAL_BOX) == BST_CHECKED) {
    const AircraftPreset& preset = kAircraftPresets[g_dropState.presetIndex];
    ProgramEffectSlots(preset.section, preset.streams);
  }
}

void EndDrop(HWND dialog) {
  EnableDialogControl(dialog, IDC_DROP_BUTTON, false);
  EnableDialogControl(dialog, IDC_LOAD_BUTTON, false);
  EnableDialogControl(dialog, IDC_CONFIG_LIST, true);
  ShowText("Командир, выброска окончена...", kMessageStyle, kMessagePlacement, kMessagePlacement);
  KillTimer(dialog, kDropTimerId);
  MarkDropRunning(dialog, false);
  RestoreEffectSlots();
}

void LoadingGate(HWND dialog) {
  // The switch lives with the file it comes from, in ui/; the gate only reads it.
  if (g_moduleConfig.realism != 1) return;
  AircraftRecord* aircraft = CacheCurrentAircraft();
  bool allowed = false;
  if (aircraft && aircraft->stateFlag == 1) {
    g_gateValue = ReadAircraftVariable(kGateVariable, LookupUnit("bool"), 0);
    allowed = GateAllows(g_gateValue);
  }
  EnableDialogControl(dialog, IDC_CONFIG_LIST, allowed);
}

void CALLBACK DialogTimerProc(HWND dialog, UINT, UINT_PTR timerId, DWORD) {
  switch (timerId) {
    case kGateTimerId:
      LoadingGate(dialog);
      break;
    case kDropTimerId:
      DropTick(dialog);
      break;
  }
}
