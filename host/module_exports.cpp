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

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      AttachToSimulator(module);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved non-null) the simulator is going away with
      // us; only an unload while it runs needs the window given back.
      if (reserved == NULL) DetachFromSimulator();
      break;
  }
  return TRUE;
}
