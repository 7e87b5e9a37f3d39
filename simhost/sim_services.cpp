// The service tables the simulator writes into a module's ImportTable, and the
// services behind them. The tables are plain pointer arrays filled by entry
// index, not the module's structs, so a module whose struct layout is wrong
// calls a null entry instead of silently agreeing with itself.
#include "simhost/sim_internal.h"

#include <string.h>

namespace {

const int kTableEntries = 128;

void* g_variableTable[kTableEntries];
void* g_aircraftTable[kTableEntries];
void* g_messageTable[kTableEntries];

const DWORD kBoolUnit = 7;
const DWORD kWatchedVariable = 87;

// The simulator's services after it has begun to go away: calls are still
// logged, and the records they hand out are gone.
bool g_poisoned = false;

std::string TextOrEmpty(const char* text) { return text != NULL ? std::string(text) : std::string(); }

DWORD WINAPI SimLookupUnit(const char* unitName) {
  const DWORD unit = (unitName != NULL && strcmp(unitName, "bool") == 0) ? kBoolUnit : 0;
  SimCall& call = SimRecordCall(kSimLookupUnit);
  call.text = TextOrEmpty(unitName);
  call.args[0] = unit;
  return unit;
}

double WINAPI SimReadAircraftVariable(DWORD variable, DWORD unit, DWORD index) {
  const SimAircraft* aircraft = SimCurrentAircraft();
  const double value = (variable == kWatchedVariable && aircraft != NULL) ? aircraft->variable87 : 0.0;
  SimCall& call = SimRecordCall(kSimReadAircraftVariable);
  call.args[0] = variable;
  call.args[1] = unit;
  call.args[2] = index;
  call.value = value;
  return value;
}

void WINAPI SimFireEvent(DWORD eventId, DWORD value) {
  SimCall& call = SimRecordCall(kSimFireEvent);
  call.args[0] = eventId;
  call.args[1] = value;
}

AircraftRecord* WINAPI SimCurrentAircraftService() {
  SimAircraft* aircraft = SimCurrentAircraft();
  AircraftRecord* record = aircraft != NULL && !g_poisoned ? aircraft->record : NULL;
  SimRecordCall(kSimCurrentAircraft).pointer = record;
  return record;
}

void WINAPI SimSetVariable(VariableWriter* self, DWORD variable, DWORD index, double value, DWORD mode) {
  SimCall& call = SimRecordCall(kSimSetVariable);
  call.pointer = self;
  call.args[0] = variable;
  call.args[1] = index;
  call.args[2] = mode;
  call.value = value;
}

// Only the seventh operation exists; the rest stay null so a module calling the
// wrong slot crashes where the fault is.
const VariableWriterTable g_writerTable = {{NULL, NULL, NULL, NULL, NULL, NULL}, &SimSetVariable};
VariableWriter g_writer = {&g_writerTable};

VariableWriter* WINAPI SimGetVariableWriter() {
  VariableWriter* writer = g_poisoned ? NULL : &g_writer;
  SimRecordCall(kSimGetVariableWriter).pointer = writer;
  return writer;
}

void WINAPI SimShowText(const char* text, DWORD style, DWORD first, DWORD second) {
  SimCall& call = SimRecordCall(kSimShowText);
  call.text = TextOrEmpty(text);
  call.args[0] = style;
  call.args[1] = first;
  call.args[2] = second;
}

void FillTables() {
  g_variableTable[kLookupUnitEntry] = SimFunctionCast<void*>(&SimLookupUnit);
  g_variableTable[kReadAircraftVariableEntry] = SimFunctionCast<void*>(&SimReadAircraftVariable);
  g_variableTable[kFireEventEntry] = SimFunctionCast<void*>(&SimFireEvent);
  g_aircraftTable[kCurrentAircraftEntry] = SimFunctionCast<void*>(&SimCurrentAircraftService);
  g_aircraftTable[kGetVariableWriterEntry] = SimFunctionCast<void*>(&SimGetVariableWriter);
  g_messageTable[kShowTextEntry] = SimFunctionCast<void*>(&SimShowText);
}

}  // namespace

void SimInstallServices(HostImportEntry* importTable) {
  if (importTable == NULL) return;
  FillTables();
  // The simulator looks at every one of the 17 entries, not just up to a zero id.
  const int kImportEntries = 17;
  for (int i = 0; i < kImportEntries; ++i) {
    switch (importTable[i].serviceId) {
      case kVariableServiceId: importTable[i].service = g_variableTable; break;
      case kAircraftServiceId: importTable[i].service = g_aircraftTable; break;
      case kMessageServiceId: importTable[i].service = g_messageTable; break;
      default: break;
    }
  }
}

void SimPoisonServices(bool poisoned) { g_poisoned = poisoned; }
