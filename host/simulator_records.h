// The simulator's records and service tables as it lays them out, declared
// once with the simulator's names. The module reaches them through
// host_services.h; the stand-in simulator builds them from this header alone.
// In the 32-bit build every offset below is pinned to the layout the
// simulator uses; the 64-bit build keeps the same declarations with natural
// pointer widths.
#pragma once

#include <windows.h>

#include <stddef.h>

// ---------------------------------------------------------------------------
// Records

// One effect emitter of the user's aircraft. The simulator's record is longer;
// the module knows and touches only these fields.
struct EffectSlot {
  double x;
  double y;
  double z;
  const char* name;  // zero-terminated effect name, never null in a live slot
  DWORD reserved;    // the simulator's; never written by the module
  EffectSlot* next;  // null after the last slot
};

// The aircraft's data block. The only field the module needs lies at an odd
// offset, so it is kept as bytes and read with memcpy.
const size_t kEffectSlotHeadOffset = 0x418E;
struct AircraftData {
  BYTE bytes[kEffectSlotHeadOffset + sizeof(EffectSlot*)];
};

// The user's aircraft as CurrentAircraft returns it.
const size_t kAircraftStateFlagOffset = 127;
struct AircraftRecord {
  AircraftData* data;
  BYTE reserved[kAircraftStateFlagOffset - sizeof(AircraftData*)];
  BYTE stateFlag;  // 1 when the simulator allows changing the load (realism mode)
};

// A simulator object with a table of virtual operations; only the seventh is used.
struct VariableWriter;
typedef void(WINAPI* SetVariableFn)(VariableWriter* self, DWORD variable, DWORD index, double value,
                                    DWORD mode);
struct VariableWriterTable {
  void* reserved[6];
  SetVariableFn SetVariable;
};
struct VariableWriter {
  const VariableWriterTable* table;
};

// ---------------------------------------------------------------------------
// Service tables: arrays of pointers to the simulator's functions.

typedef DWORD(WINAPI* LookupUnitFn)(const char* unitName);
typedef double(WINAPI* ReadAircraftVariableFn)(DWORD variable, DWORD unit, DWORD index);
typedef void(WINAPI* FireEventFn)(DWORD eventId, DWORD value);
typedef AircraftRecord*(WINAPI* CurrentAircraftFn)(void);
typedef VariableWriter*(WINAPI* GetVariableWriterFn)(void);
typedef void(WINAPI* ShowTextFn)(const char* text, DWORD style, DWORD first, DWORD second);

// Entry positions in units of one pointer (byte offset / 4 in the 32-bit simulator).
const int kLookupUnitEntry = 0x124 / 4;
const int kReadAircraftVariableEntry = 0x12C / 4;
const int kFireEventEntry = 0x13C / 4;
const int kCurrentAircraftEntry = 0x18 / 4;
const int kGetVariableWriterEntry = 0x70 / 4;
const int kShowTextEntry = 0xC8 / 4;

struct VariableService {
  void* reserved0[kLookupUnitEntry];
  LookupUnitFn LookupUnit;
  void* reserved1[kReadAircraftVariableEntry - kLookupUnitEntry - 1];
  ReadAircraftVariableFn ReadAircraftVariable;
  void* reserved2[kFireEventEntry - kReadAircraftVariableEntry - 1];
  FireEventFn FireEvent;
};

struct AircraftService {
  void* reserved0[kCurrentAircraftEntry];
  CurrentAircraftFn CurrentAircraft;
  void* reserved1[kGetVariableWriterEntry - kCurrentAircraftEntry - 1];
  GetVariableWriterFn GetVariableWriter;
};

struct MessageService {
  void* reserved0[kShowTextEntry];
  ShowTextFn ShowText;
};

// The exported ImportTable: 17 entries, the last with id 0 and no table.
const int kImportTableEntries = 17;

// One entry of the exported ImportTable: the simulator writes the service
// table for `serviceId` into `service` when it loads the module.
struct HostImportEntry {
  DWORD serviceId;
  void* service;
};

// The exported Linkage, which the simulator reads.
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

const DWORD kVariableServiceId = 0x0F;
const DWORD kAircraftServiceId = 0x19;
const DWORD kMessageServiceId = 0x0A;

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(HostImportEntry) == 8, "ImportTable entry: id and pointer, 4 bytes each");
static_assert(offsetof(VariableService, LookupUnit) == 0x124, "LookupUnit");
static_assert(offsetof(VariableService, ReadAircraftVariable) == 0x12C, "ReadAircraftVariable");
static_assert(offsetof(VariableService, FireEvent) == 0x13C, "FireEvent");
static_assert(offsetof(AircraftService, CurrentAircraft) == 0x18, "CurrentAircraft");
static_assert(offsetof(AircraftService, GetVariableWriter) == 0x70, "GetVariableWriter");
static_assert(offsetof(MessageService, ShowText) == 0xC8, "ShowText");
static_assert(offsetof(VariableWriterTable, SetVariable) == 6 * 4, "SetVariable is the seventh operation");
static_assert(offsetof(AircraftRecord, stateFlag) == 127, "aircraft state flag byte");
static_assert(offsetof(EffectSlot, x) == 0 && offsetof(EffectSlot, y) == 8 && offsetof(EffectSlot, z) == 16,
              "slot position");
static_assert(offsetof(EffectSlot, name) == 24, "slot name pointer");
static_assert(offsetof(EffectSlot, reserved) == 28, "slot field the module leaves alone");
static_assert(offsetof(EffectSlot, next) == 32, "slot chain pointer");
#endif
static_assert(offsetof(AircraftRecord, stateFlag) == kAircraftStateFlagOffset, "flag byte at 127 in both builds");
