// The smallest module a simulator could load: same compiler, flags and static
// runtime as Kolvarine.dll, one export and no code of its own. Loading it is
// the baseline for loading Kolvarine.dll and for its runtime's start-up.
#include <windows.h>

extern "C" {
__declspec(dllexport) DWORD EmptyModuleVersion = 1;
}
