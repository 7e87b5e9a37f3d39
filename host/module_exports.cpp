// The library entry and the two records the simulator deals with.
#include "host/module_exports.h"

#include "host/menu_hook.h"

extern "C" {

// Service ids in the order the simulator expects; it fills in the pointers.
HostImportEntry ImportTable[kImportTableEntries] = {
    {0x01, NULL}, {0x17, NULL}, {0x12, NULL}, {0x2C, NULL}, {0x80000000, NULL}, {0x0D, NULL},
    {0x02, NULL}, {0x03, NULL}, {0x23, NULL}, {kVariableServiceId, NULL}, {kAircraftServiceId, NULL},
    {0x27, NULL}, {0x14, NULL}, {0x2E, NULL}, {0x1C, NULL}, {kMessageServiceId, NULL},
    {0x00, NULL},  // end of table
};

ModuleLinkage Linkage = {0, LinkageDoNothing, LinkageDoNothing, 0, 0, kLinkageVersion, NULL};

}  // extern "C"

void WINAPI LinkageDoNothing(void) {}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  // A module that hooked the window is pinned, so the only detach it sees is
  // the process's exit, when the simulator goes away with it: nothing to undo.
  if (reason == DLL_PROCESS_ATTACH) AttachToSimulator(module);
  return TRUE;
}
