// Watching a loaded module's heap use from outside: its allocation imports
// wrapped with counters, and a census of every heap block in the process for
// what happens inside LoadLibrary, before any import can be wrapped.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ImportedFunction {
  std::string dll;
  std::string name;
};

// Every function `module` imports by name, walked from its import directory.
std::vector<ImportedFunction> ListImports(HMODULE module);

struct AllocationCounts {
  long allocations;  // calls that can hand out memory: malloc, calloc, realloc, HeapAlloc...
  long releases;     // free, HeapFree...
};

// Wraps each heap, C allocation and page allocation import `module` has.
// Returns "dll!name" of the ones wrapped.
std::vector<std::string> WrapAllocationImports(HMODULE module);
AllocationCounts AllocationCallCounts();
void ResetAllocationCallCounts();

// Busy blocks in every heap of the process, the C runtime's own heap apart.
struct HeapTally {
  long blocks;
  long long bytes;
};
struct HeapCensus {
  HeapTally runtimeHeap;  // msvcrt's heap: what malloc and friends use
  HeapTally otherHeaps;   // the process heap and the rest: loader, USER32, Wine
};
HeapCensus TakeHeapCensus();
HeapCensus CensusDifference(const HeapCensus& after, const HeapCensus& before);
