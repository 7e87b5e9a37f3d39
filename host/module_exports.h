// The two records through which the simulator loads the module: ImportTable,
// which it fills with its service tables, and Linkage, which it reads.
#pragma once

#include <windows.h>

#include "host/simulator_records.h"

// Positions of the entries the module uses.
const int kVariableServiceEntry = 9;   // id 0x0F
const int kAircraftServiceEntry = 10;  // id 0x19
const int kMessageServiceEntry = 15;   // id 0x0A

extern "C" __declspec(dllexport) HostImportEntry ImportTable[kImportTableEntries];
extern "C" __declspec(dllexport) ModuleLinkage Linkage;

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ImportTable) == 17 * 8, "ImportTable: 17 entries of 8 bytes");
#endif

void WINAPI LinkageDoNothing(void);
