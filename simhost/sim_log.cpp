// The call log: every service call and intercepted system call, in order.
#include "simhost/sim_internal.h"

namespace {

std::vector<SimCall> g_log;

}  // namespace

SimCall& SimRecordCall(SimOp op) {
  SimCall call;
  call.op = op;
  for (unsigned long& arg : call.args) arg = 0;
  call.value = 0.0;
  call.pointer = NULL;
  g_log.push_back(call);
  return g_log.back();
}

void SimClearLog() { g_log.clear(); }

const std::vector<SimCall>& SimLog() { return g_log; }

int SimCount(SimOp op) {
  int count = 0;
  for (const SimCall& call : g_log) {
    if (call.op == op) ++count;
  }
  return count;
}

const SimCall* SimLast(SimOp op) {
  for (size_t i = g_log.size(); i > 0; --i) {
    if (g_log[i - 1].op == op) return &g_log[i - 1];
  }
  return NULL;
}

const char* SimOpName(SimOp op) {
  switch (op) {
    case kSimLookupUnit: return "LookupUnit";
    case kSimReadAircraftVariable: return "ReadAircraftVariable";
    case kSimFireEvent: return "FireEvent";
    case kSimCurrentAircraft: return "CurrentAircraft";
    case kSimGetVariableWriter: return "GetVariableWriter";
    case kSimShowText: return "ShowText";
    case kSimSetVariable: return "SetVariable";
    case kSimSetTimer: return "SetTimer";
    case kSimKillTimer: return "KillTimer";
    case kSimCreateDialog: return "CreateDialogParamA";
    case kSimMessageBox: return "MessageBoxA";
    case kSimOpCount: break;
  }
  return "?";
}

// The window and the import patches stay: tests share them across cases.
void SimReset() {
  SimClearLog();
  SimResetAircraft();
  SimResetTimers();
  SimResetHooks();
  SimSetDialogCreationFails(false);
  SimResetDialogs();
  SimResetForwardedCommands();
  SimPoisonServices(false);
}
