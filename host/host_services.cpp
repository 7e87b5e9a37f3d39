#include "host/host_services.h"

#include <string.h>

#include "host/module_exports.h"

// The aircraft CurrentAircraft returned last. Kept as the design has it;
// every user asks anew, so nothing reads it.
static AircraftRecord* g_cachedAircraft;

// The simulator writes its tables into these entries when it loads the
// module; until then they are null.
static VariableService* Variables() {
  return static_cast<VariableService*>(ImportTable[kVariableServiceEntry].service);
}
static AircraftService* Aircraft() {
  return static_cast<AircraftService*>(ImportTable[kAircraftServiceEntry].service);
}
static MessageService* Messages() {
  return static_cast<MessageService*>(ImportTable[kMessageServiceEntry].service);
}

DWORD LookupUnit(const char* unitName) {
  VariableService* service = Variables();
  return service ? service->LookupUnit(unitName) : 0;
}

double ReadAircraftVariable(DWORD variable, DWORD unit, DWORD index) {
  VariableService* service = Variables();
  return service ? service->ReadAircraftVariable(variable, unit, index) : 0.0;
}

void FireEvent(DWORD eventId, DWORD value) {
  VariableService* service = Variables();
  if (service) service->FireEvent(eventId, value);
}

AircraftRecord* CurrentAircraft() {
  AircraftService* service = Aircraft();
  return service ? service->CurrentAircraft() : NULL;
}

VariableWriter* GetVariableWriter() {
  AircraftService* service = Aircraft();
  return service ? service->GetVariableWriter() : NULL;
}

void ShowText(const char* text, DWORD style, DWORD first, DWORD second) {
  MessageService* service = Messages();
  if (service) service->ShowText(text, style, first, second);
}

void SetVariable(VariableWriter* writer, DWORD variable, DWORD index, double value, DWORD mode) {
  if (writer) writer->table->SetVariable(writer, variable, index, value, mode);
}

EffectSlot* EffectSlotHead(const AircraftRecord* aircraft) {
  if (!aircraft || !aircraft->data) return NULL;
  // 0x418E is not pointer-aligned: copy the bytes rather than dereference.
  EffectSlot* head;
  memcpy(&head, aircraft->data->bytes + kEffectSlotHeadOffset, sizeof(head));
  return head;
}

AircraftRecord* CacheCurrentAircraft() {
  g_cachedAircraft = CurrentAircraft();
  return g_cachedAircraft;
}
