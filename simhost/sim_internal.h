// Glue between the stand-in simulator's source files; not for tests.
#pragma once

#include "simhost/sim_host.h"

// Appends a zeroed call of kind `op` to the log; the caller fills in the rest
// before logging anything else (the reference dies with the next append).
SimCall& SimRecordCall(SimOp op);

// Pieces of SimReset, each owned by the file that keeps the state.
void SimResetAircraft();
void SimResetTimers();
void SimResetHooks();
void SimResetDialogs();
void SimResetForwardedCommands();

// Drops fake timers whose window has been destroyed.
void SimDropDeadTimers();

// The dialog-creation wrapper reports each dialog it made, so the pilot sees
// module dialogs in creation order even when several appear at once.
void SimNoteCreatedDialog(HWND dialog);

// Casts between function and data pointers in one place; GCC warns about
// direct casts between unrelated function types.
template <typename To, typename From>
To SimFunctionCast(From from) {
  return reinterpret_cast<To>(reinterpret_cast<void*>(from));
}
