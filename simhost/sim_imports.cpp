// Loading a module as the simulator does, and watching the system calls it
// makes: timers (recorded, and driven by the tests when faked), dialog creation
// (which can be made to fail), message boxes (answered without showing) and
// message hooks (recorded, and taken off as the simulator's process would end).
#include "simhost/sim_internal.h"

#include <string.h>

namespace {

HMODULE g_loadedModule = NULL;
bool g_fakeTimers = false;
bool g_dialogCreationFails = false;
std::vector<SimTimer> g_timers;
std::vector<SimHook> g_hooks;
UINT_PTR g_nextThreadTimerId = 0x7F00;  // ids for timers without a window, as SetTimer picks them

typedef UINT_PTR(WINAPI* SetTimerFn)(HWND, UINT_PTR, UINT, TIMERPROC);
typedef BOOL(WINAPI* KillTimerFn)(HWND, UINT_PTR);
typedef HWND(WINAPI* CreateDialogParamAFn)(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);
typedef int(WINAPI* MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);
typedef HHOOK(WINAPI* SetWindowsHookExAFn)(int, HOOKPROC, HINSTANCE, DWORD);

// The real functions come from USER32's exports, never from an import table:
// the test program's own table may be patched to point at the wrappers below.
template <typename Fn>
Fn RealUser32(const char* name) {
  return SimFunctionCast<Fn>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

// --- PE import directory ---------------------------------------------------

BYTE* ImageBase(HMODULE module) { return reinterpret_cast<BYTE*>(module); }

const IMAGE_IMPORT_DESCRIPTOR* FirstImport(HMODULE module) {
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return NULL;
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(ImageBase(module) + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return NULL;
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0 || directory.Size == 0) return NULL;
  return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(ImageBase(module) + directory.VirtualAddress);
}

bool WriteSlot(IMAGE_THUNK_DATA* slot, void* replacement) {
  DWORD oldProtection = 0;
  if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &oldProtection)) return false;
  slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof(*slot), oldProtection, &ignored);
  return true;
}

// Finds `functionName` by name in one DLL's import name table and swaps the
// matching address-table slot. Without a name table the slots cannot be named.
bool PatchDescriptor(HMODULE module, const IMAGE_IMPORT_DESCRIPTOR& import, const char* functionName,
                     void* replacement, void** original) {
  if (import.OriginalFirstThunk == 0 || import.FirstThunk == 0) return false;
  const IMAGE_THUNK_DATA* names =
      reinterpret_cast<const IMAGE_THUNK_DATA*>(ImageBase(module) + import.OriginalFirstThunk);
  IMAGE_THUNK_DATA* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(ImageBase(module) + import.FirstThunk);
  for (int i = 0; names[i].u1.AddressOfData != 0; ++i) {
    if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) continue;
    const IMAGE_IMPORT_BY_NAME* byName =
        reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(ImageBase(module) + names[i].u1.AddressOfData);
    if (strcmp(reinterpret_cast<const char*>(byName->Name), functionName) != 0) continue;
    void* previous = reinterpret_cast<void*>(addresses[i].u1.Function);
    if (!WriteSlot(&addresses[i], replacement)) return false;
    if (original != NULL) *original = previous;
    return true;
  }
  return false;
}

// --- Fake timers -----------------------------------------------------------

SimTimer* FindTimer(HWND window, UINT_PTR id) {
  for (SimTimer& timer : g_timers) {
    if (timer.window == window && timer.id == id) return &timer;
  }
  return NULL;
}

// Like SetTimer: the same (window, id) again replaces period and procedure.
UINT_PTR SetFakeTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
  if (window != NULL && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  SimTimer* existing = FindTimer(window, id);
  if (existing != NULL) {
    existing->period = period;
    existing->proc = proc;
    return id;
  }
  if (window == NULL) id = g_nextThreadTimerId++;
  SimTimer timer = {window, id, period, proc};
  g_timers.push_back(timer);
  return id;
}

BOOL KillFakeTimer(HWND window, UINT_PTR id) {
  for (size_t i = 0; i < g_timers.size(); ++i) {
    if (g_timers[i].window == window && g_timers[i].id == id) {
      g_timers.erase(g_timers.begin() + i);
      return TRUE;
    }
  }
  return FALSE;
}

// --- Wrappers with the exact signatures of the USER32 functions ------------

UINT_PTR WINAPI SimSetTimerHook(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
  SimCall& call = SimRecordCall(kSimSetTimer);
  call.pointer = window;
  call.args[0] = static_cast<unsigned long>(id);
  call.args[1] = period;
  if (g_fakeTimers) return SetFakeTimer(window, id, period, proc);
  static const SetTimerFn real = RealUser32<SetTimerFn>("SetTimer");
  return real(window, id, period, proc);
}

BOOL WINAPI SimKillTimerHook(HWND window, UINT_PTR id) {
  SimCall& call = SimRecordCall(kSimKillTimer);
  call.pointer = window;
  call.args[0] = static_cast<unsigned long>(id);
  if (g_fakeTimers) return KillFakeTimer(window, id);
  static const KillTimerFn real = RealUser32<KillTimerFn>("KillTimer");
  return real(window, id);
}

HWND WINAPI SimCreateDialogParamAHook(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc,
                                      LPARAM parameter) {
  SimCall& call = SimRecordCall(kSimCreateDialog);
  call.pointer = owner;
  if (IS_INTRESOURCE(templateName)) {
    call.args[0] = static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(templateName));
  } else {
    call.text = templateName;
  }
  if (g_dialogCreationFails) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
  }
  static const CreateDialogParamAFn real = RealUser32<CreateDialogParamAFn>("CreateDialogParamA");
  HWND dialog = real(instance, templateName, owner, proc, parameter);
  if (dialog != NULL) SimNoteCreatedDialog(dialog);
  return dialog;
}

// Answers OK at once: a box shown under Wine would wait for a click forever.
int WINAPI SimMessageBoxAHook(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  SimCall& call = SimRecordCall(kSimMessageBox);
  call.pointer = owner;
  call.text = text != NULL ? text : "";
  call.caption = caption != NULL ? caption : "";
  call.args[0] = style;
  return IDOK;
}

HHOOK WINAPI SimSetWindowsHookExAHook(int type, HOOKPROC proc, HINSTANCE instance, DWORD threadId) {
  static const SetWindowsHookExAFn real = RealUser32<SetWindowsHookExAFn>("SetWindowsHookExA");
  HHOOK hook = real(type, proc, instance, threadId);
  if (hook != NULL) {
    SimHook installed = {hook, type, threadId};
    g_hooks.push_back(installed);
  }
  return hook;
}

void PatchUser32(HMODULE module, const char* name, void* replacement) {
  SimPatchImport(module, "user32.dll", name, replacement, NULL);
}

}  // namespace

bool SimPatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                    void** original) {
  if (module == NULL || dllName == NULL || functionName == NULL) return false;
  const IMAGE_IMPORT_DESCRIPTOR* import = FirstImport(module);
  if (import == NULL) return false;
  // A linker may split one DLL's imports over several descriptors: try each.
  for (; import->Name != 0; ++import) {
    const char* importedDll = reinterpret_cast<const char*>(ImageBase(module) + import->Name);
    if (lstrcmpiA(importedDll, dllName) != 0) continue;
    if (PatchDescriptor(module, *import, functionName, replacement, original)) return true;
  }
  return false;
}

void SimInterceptImports(HMODULE module, const SimLoadOptions& options) {
  g_fakeTimers = options.fakeTimers;
  // Only switches failure on: a test may have asked for it before loading.
  if (options.failDialogCreation) g_dialogCreationFails = true;
  PatchUser32(module, "SetTimer", SimFunctionCast<void*>(&SimSetTimerHook));
  PatchUser32(module, "KillTimer", SimFunctionCast<void*>(&SimKillTimerHook));
  PatchUser32(module, "CreateDialogParamA", SimFunctionCast<void*>(&SimCreateDialogParamAHook));
  PatchUser32(module, "SetWindowsHookExA", SimFunctionCast<void*>(&SimSetWindowsHookExAHook));
  // Without interception the real box comes back, in case an earlier call patched it.
  void* messageBox = options.interceptMessageBox ? SimFunctionCast<void*>(&SimMessageBoxAHook)
                                                 : SimFunctionCast<void*>(RealUser32<MessageBoxAFn>("MessageBoxA"));
  PatchUser32(module, "MessageBoxA", messageBox);
}

void SimSetDialogCreationFails(bool fail) { g_dialogCreationFails = fail; }

HMODULE SimLoadModule(const char* path, const SimLoadOptions& options) {
  // A module that keeps itself loaded is found again by its file: a fresh copy
  // makes every load a first load.
  const std::string copy = SimFreshModuleCopy(path);
  if (copy.empty()) return NULL;
  HMODULE module = LoadLibraryA(copy.c_str());
  if (module == NULL) return NULL;
  g_loadedModule = module;
  SimInterceptImports(module, options);
  if (options.installServices) {
    HostImportEntry* importTable =
        reinterpret_cast<HostImportEntry*>(GetProcAddress(module, "ImportTable"));
    SimInstallServices(importTable);
  }
  return module;
}

void SimFreeLibrary() {
  if (g_loadedModule == NULL) return;
  FreeLibrary(g_loadedModule);
  g_loadedModule = NULL;
  SimDropDeadTimers();
}

HMODULE SimLoadedModule() { return g_loadedModule; }

bool SimModuleResident(HMODULE module) {
  HMODULE found = NULL;
  return module != NULL &&
         GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(module), &found) &&
         found == module;
}

// --- Timer queries ---------------------------------------------------------

void SimDropDeadTimers() {
  for (size_t i = g_timers.size(); i > 0; --i) {
    const HWND window = g_timers[i - 1].window;
    if (window != NULL && !IsWindow(window)) g_timers.erase(g_timers.begin() + (i - 1));
  }
}

void SimResetTimers() { g_timers.clear(); }

std::vector<SimHook> SimHooks() { return g_hooks; }

// A simulator that ends takes its modules' hooks with it; the tests load a
// fresh module for every story in one process, and its pinned copies' hooks
// would otherwise pile up on the test's thread.
void SimResetHooks() {
  for (const SimHook& hook : g_hooks) UnhookWindowsHookEx(hook.hook);
  g_hooks.clear();
}

std::vector<SimTimer> SimTimers() {
  SimDropDeadTimers();
  return g_timers;
}

const SimTimer* SimFindTimer(HWND window, UINT_PTR id) {
  SimDropDeadTimers();
  return FindTimer(window, id);
}

// A copy is fired: the procedure may kill or reset its own timer.
bool SimFireTimer(HWND window, UINT_PTR id) {
  const SimTimer* found = SimFindTimer(window, id);
  if (found == NULL) return false;
  const SimTimer timer = *found;
  if (timer.proc != NULL) {
    timer.proc(timer.window, WM_TIMER, timer.id, GetTickCount());
  } else {
    // Without a procedure the window itself gets WM_TIMER, lParam zero as the system sends it.
    SendMessageA(timer.window, WM_TIMER, timer.id, 0);
  }
  return true;
}

int SimTimerCount(UINT_PTR id) {
  SimDropDeadTimers();
  int count = 0;
  for (const SimTimer& timer : g_timers) {
    if (timer.id == id) ++count;
  }
  return count;
}
