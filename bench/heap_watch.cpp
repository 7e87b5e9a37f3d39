#include "bench/heap_watch.h"

#include <stdint.h>
#include <string.h>

#include "simhost/sim_host.h"

namespace {

AllocationCounts g_counts;

// The function each wrapper passes on to, as the module's import table had it.
const int kWrapperSlots = 48;
void* g_real[kWrapperSlots];

// One instance per wrapped function: the slot tells them apart, the calling
// convention must match the import's (it matters on 32-bit x86 only).
void CountCall(bool allocates) {
  if (allocates) {
    ++g_counts.allocations;
  } else {
    ++g_counts.releases;
  }
}

template <int Slot, bool Allocates, typename R, typename... Args>
R __cdecl CountedCrt(Args... args) {
  CountCall(Allocates);
  return reinterpret_cast<R(__cdecl*)(Args...)>(g_real[Slot])(args...);
}

template <int Slot, bool Allocates, typename R, typename... Args>
R WINAPI CountedApi(Args... args) {
  CountCall(Allocates);
  return reinterpret_cast<R(WINAPI*)(Args...)>(g_real[Slot])(args...);
}

template <typename Fn>
void* Address(Fn function) {
  return reinterpret_cast<void*>(function);
}

struct Wrapper {
  const char* name;  // matched in any DLL: C runtimes and API sets use the same names
  void* function;
  int slot;
};

#define CRT(slot, allocates, name, ...) {name, Address(&CountedCrt<slot, allocates, __VA_ARGS__>), slot}
#define API(slot, allocates, name, ...) {name, Address(&CountedApi<slot, allocates, __VA_ARGS__>), slot}

const Wrapper kWrappers[] = {
    CRT(0, true, "malloc", void*, size_t),
    CRT(1, true, "calloc", void*, size_t, size_t),
    CRT(2, true, "realloc", void*, void*, size_t),
    CRT(3, true, "_recalloc", void*, void*, size_t, size_t),
    CRT(4, true, "_expand", void*, void*, size_t),
    CRT(5, true, "_strdup", char*, const char*),
    CRT(6, true, "strdup", char*, const char*),
    CRT(7, true, "_wcsdup", wchar_t*, const wchar_t*),
    CRT(8, true, "_mbsdup", unsigned char*, const unsigned char*),
    CRT(9, true, "_aligned_malloc", void*, size_t, size_t),
    CRT(10, true, "_aligned_realloc", void*, void*, size_t, size_t),
    // operator new and new[] as msvcrt exports them (32- and 64-bit), and as
    // a shared libstdc++ would.
    CRT(11, true, "??2@YAPAXI@Z", void*, size_t),
    CRT(12, true, "??_U@YAPAXI@Z", void*, size_t),
    CRT(13, true, "??2@YAPEAX_K@Z", void*, size_t),
    CRT(14, true, "??_U@YAPEAX_K@Z", void*, size_t),
    CRT(15, true, "_Znwj", void*, size_t),
    CRT(16, true, "_Znaj", void*, size_t),
    CRT(17, true, "_Znwm", void*, size_t),
    CRT(18, true, "_Znam", void*, size_t),
    CRT(19, false, "free", void, void*),
    CRT(20, false, "_aligned_free", void, void*),
    CRT(21, false, "??3@YAXPAX@Z", void, void*),
    CRT(22, false, "??_V@YAXPAX@Z", void, void*),
    CRT(23, false, "??3@YAXPEAX@Z", void, void*),
    CRT(24, false, "??_V@YAXPEAX@Z", void, void*),
    CRT(25, false, "_ZdlPv", void, void*),
    CRT(26, false, "_ZdaPv", void, void*),
    API(27, true, "HeapAlloc", LPVOID, HANDLE, DWORD, SIZE_T),
    API(28, true, "HeapReAlloc", LPVOID, HANDLE, DWORD, LPVOID, SIZE_T),
    API(29, true, "HeapCreate", HANDLE, DWORD, SIZE_T, SIZE_T),
    API(30, true, "LocalAlloc", HLOCAL, UINT, SIZE_T),
    API(31, true, "LocalReAlloc", HLOCAL, HLOCAL, SIZE_T, UINT),
    API(32, true, "GlobalAlloc", HGLOBAL, UINT, SIZE_T),
    API(33, true, "GlobalReAlloc", HGLOBAL, HGLOBAL, SIZE_T, UINT),
    API(34, true, "VirtualAlloc", LPVOID, LPVOID, SIZE_T, DWORD, DWORD),
    API(35, true, "RtlAllocateHeap", PVOID, PVOID, ULONG, SIZE_T),
    API(36, true, "RtlReAllocateHeap", PVOID, PVOID, ULONG, PVOID, SIZE_T),
    API(37, false, "HeapFree", BOOL, HANDLE, DWORD, LPVOID),
    API(38, false, "LocalFree", HLOCAL, HLOCAL),
    API(39, false, "GlobalFree", HGLOBAL, HGLOBAL),
    API(40, false, "VirtualFree", BOOL, LPVOID, SIZE_T, DWORD),
    API(41, false, "RtlFreeHeap", BOOLEAN, PVOID, ULONG, PVOID),
};

#undef CRT
#undef API

HANDLE RuntimeHeap() {
  typedef intptr_t(__cdecl * HeapHandleFn)();
  HMODULE msvcrt = GetModuleHandleA("msvcrt.dll");
  HeapHandleFn heapHandle =
      msvcrt ? reinterpret_cast<HeapHandleFn>(reinterpret_cast<void*>(GetProcAddress(msvcrt, "_get_heap_handle")))
             : NULL;
  return heapHandle ? reinterpret_cast<HANDLE>(heapHandle()) : NULL;
}

void TallyHeap(HANDLE heap, HeapTally* tally) {
  // A heap made without serialisation refuses the lock; nothing else runs anyway.
  const BOOL locked = HeapLock(heap);
  PROCESS_HEAP_ENTRY entry;
  memset(&entry, 0, sizeof(entry));
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      ++tally->blocks;
      tally->bytes += entry.cbData;
    }
  }
  if (locked) HeapUnlock(heap);
}

}  // namespace

std::vector<ImportedFunction> ListImports(HMODULE module) {
  std::vector<ImportedFunction> imports;
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return imports;
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return imports;
  const IMAGE_IMPORT_DESCRIPTOR* descriptor =
      reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; descriptor->Name != 0; ++descriptor) {
    const char* dll = reinterpret_cast<const char*>(base + descriptor->Name);
    // Without a name table the bound slots cannot be named; MinGW always writes one.
    if (descriptor->OriginalFirstThunk == 0) continue;
    const IMAGE_THUNK_DATA* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
    for (; thunk->u1.AddressOfData != 0; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
      ImportedFunction function = {dll, reinterpret_cast<const char*>(byName->Name)};
      imports.push_back(function);
    }
  }
  return imports;
}

std::vector<std::string> WrapAllocationImports(HMODULE module) {
  std::vector<std::string> wrapped;
  for (const ImportedFunction& import : ListImports(module)) {
    for (const Wrapper& wrapper : kWrappers) {
      if (import.name != wrapper.name) continue;
      if (SimPatchImport(module, import.dll.c_str(), wrapper.name, wrapper.function, &g_real[wrapper.slot])) {
        wrapped.push_back(import.dll + "!" + import.name);
      }
    }
  }
  return wrapped;
}

AllocationCounts AllocationCallCounts() { return g_counts; }

void ResetAllocationCallCounts() {
  g_counts.allocations = 0;
  g_counts.releases = 0;
}

// Nothing here allocates: it runs between LoadLibrary and the census after it.
HeapCensus TakeHeapCensus() {
  static HANDLE heaps[256];
  HeapCensus census;
  memset(&census, 0, sizeof(census));
  const HANDLE runtimeHeap = RuntimeHeap();
  DWORD count = GetProcessHeaps(256, heaps);
  if (count > 256) count = 256;
  for (DWORD i = 0; i < count; ++i) {
    TallyHeap(heaps[i], heaps[i] == runtimeHeap ? &census.runtimeHeap : &census.otherHeaps);
  }
  return census;
}

HeapCensus CensusDifference(const HeapCensus& after, const HeapCensus& before) {
  HeapCensus difference;
  difference.runtimeHeap.blocks = after.runtimeHeap.blocks - before.runtimeHeap.blocks;
  difference.runtimeHeap.bytes = after.runtimeHeap.bytes - before.runtimeHeap.bytes;
  difference.otherHeaps.blocks = after.otherHeaps.blocks - before.otherHeaps.blocks;
  difference.otherHeaps.bytes = after.otherHeaps.bytes - before.otherHeaps.bytes;
  return difference;
}
