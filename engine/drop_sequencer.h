// The timed drop and the loading gate. Both run from the control dialog's
// window timers and act on that dialog's controls by id.
#pragma once

#include <windows.h>

#include "resources/resource.h"

const UINT kGatePeriod = 250;

// The variable the simulator reports as 1 while the load may be changed.
const DWORD kGateVariable = 87;

// Drop timer period for `interval` seconds: truncated milliseconds, 0 for a
// negative interval, at most the longest period a window timer takes.
UINT DropTimerPeriod(double interval);

// True when the gate's variable allows the configuration list.
bool GateAllows(double value);

void StartDrop(HWND dialog);
void DropTick(HWND dialog);
void EndDrop(HWND dialog);
void LoadingGate(HWND dialog);

// Shared by both timers of a dialog.
void CALLBACK DialogTimerProc(HWND dialog, UINT message, UINT_PTR timerId, DWORD time);
