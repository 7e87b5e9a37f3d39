// The two records through which the simulator loads the module: ImportTable,
// which it fills with its service tables, and Linkage, which it reads.
#pragma once

#include <windows.h>

#include "host/host_services.h"

const int kImportTableEntries = 17;

// Positions of the entries the module uses.
const int kVariableServiceEntry = 9;   // id 0x0F
const int kAircraftServiceEntry = 10;  // id 0x19
const int kMessageServiceEntry = 15;   // id 0x0A

typedef void(WINAPI* LinkageFn)(void);

struct ModuleLinkage {
  DWORD reserved0;
  LinkageFn initialise;
  LinkageFn shutdown;
  DWORD reserved3;
  DWORD reserved4;
  DWORD version;  // 0x0900
  void* reserved6;
};

const DWORD kLinkageVersion = 0x0900;

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ModuleLinkage) == 7 * 4, "Linkage: seven 32-bit fields");
static_assert(offsetof(ModuleLinkage, initialise) == 4 && offsetof(ModuleLinkage, version) == 20 &&
                  offsetof(ModuleLinkage, reserved6) == 24,
              "Linkage field order");
#endif

extern "C" __declspec(dllexport) HostImportEntry ImportTable[kImportTableEntries];
extern "C" __declspec(dllexport) ModuleLinkage Linkage;

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ImportTable) == 17 * 8, "ImportTable: 17 entries of 8 bytes");
#endif

void WINAPI LinkageDoNothing(void);
