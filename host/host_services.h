// Typed access to the simulator's services, always through the table pointers
// the simulator wrote into ImportTable. A table the simulator never filled
// makes a call do nothing (and return zero or null) instead of jumping
// through null.
#pragma once

#include <windows.h>

#include "host/simulator_records.h"

DWORD LookupUnit(const char* unitName);
double ReadAircraftVariable(DWORD variable, DWORD unit, DWORD index);
void FireEvent(DWORD eventId, DWORD value);
AircraftRecord* CurrentAircraft();
VariableWriter* GetVariableWriter();
void ShowText(const char* text, DWORD style, DWORD first, DWORD second);
void SetVariable(VariableWriter* writer, DWORD variable, DWORD index, double value, DWORD mode);

// The aircraft's first effect slot, or null when it has none (or no aircraft).
EffectSlot* EffectSlotHead(const AircraftRecord* aircraft);

// CurrentAircraft, kept as the cached aircraft: the gate and the slot code
// ask for the aircraft before every use of its records.
AircraftRecord* CacheCurrentAircraft();
