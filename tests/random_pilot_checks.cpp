// Random pilots: the invariants. After every step, what the simulator sees
// (its log, its windows, its timers, its menu bar and every slot of every
// aircraft flown) must be what the model says.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/random_pilot.h"

namespace random_pilot {

bool Pilot::Fail(const char* tag, const std::string& message) {
  if (!outcome_.failed) {
    outcome_.failed = true;
    outcome_.tag = tag;
    outcome_.message = std::string(tag) + ": " + message;
  }
  return false;
}

// Once a drop has ended, or the module is going away, every slot of the
// current chain holds its own values and no name leads into the module's image.
bool Pilot::CheckGivenBack(const char* when, HMODULE module, size_t imageSize) {
  const AircraftModel& aircraft = Current();
  for (int position = 1; position <= aircraft.sim->slotCount; ++position) {
    if (position <= kManaged && aircraft.managed[position - 1].kind == kUnknown) continue;
    const std::string which = std::string("at ") + when + " slot " + std::to_string(position);
    if (!SimSlotIsOriginal(aircraft.sim, position)) return Fail("restore", which + " does not hold its own values");
    if (SimPointsInto(aircraft.sim->slots[position - 1]->name, module, imageSize))
      return Fail("restore", which + " names the module's memory");
  }
  return true;
}

static std::string Doubles(const std::vector<double>& values) {
  std::string text = "{";
  for (double value : values) text += " " + std::to_string(value);
  return text + " }";
}

// Each step checks what it wrote, the dialog it acted on, the running drops
// and every slot; window lists only change when dialogs are opened or hidden.
bool Pilot::Check(const Action& action) {
  if (!CheckLog(action)) return false;
  if (action.kind == kFreeLibrary && !SimLog().empty())
    return Fail("FreeLibrary", std::string("FreeLibrary called ") + SimOpName(SimLog().front().op));
  // A timer changes only the buttons, the list and the label.
  const bool timerStep = action.kind == kTickDrop || action.kind == kTickGate;
  if (action.kind == kMenu || action.kind == kReopen || action.kind == kExit || action.kind == kCloseWindow) {
    if (!CheckDialogs() || !CheckDialogBound()) return false;
  } else if (m_.touched >= 0 && !CheckDialog(static_cast<size_t>(m_.touched), !timerStep)) {
    return false;
  }
  int running = 0;
  for (const DialogModel& dialog : m_.dialogs) running += dialog.dropTimer;
  if (SimTimerCount(kDropTimerId) != running)
    return Fail("timers", std::to_string(SimTimerCount(kDropTimerId)) + " drop timers, expected " +
                              std::to_string(running));
  return CheckSlots();
}

bool Pilot::CheckLog(const Action& action) {
  std::vector<double> loads;
  std::vector<unsigned long> events;
  std::vector<std::string> messages;
  int created = 0, reads = 0, aircraftCalls = 0;
  for (const SimCall& call : SimLog()) {
    switch (call.op) {
      case kSimSetVariable:
        if (call.args[0] != 164 || call.args[1] != 124 || call.args[2] != 1)
          return Fail("load", "written to variable " + std::to_string(call.args[0]) + "/" +
                                  std::to_string(call.args[1]) + "/" + std::to_string(call.args[2]));
        loads.push_back(call.value);
        break;
      case kSimFireEvent:
        if (call.args[1] != 1) return Fail("events", "event value " + std::to_string(call.args[1]));
        events.push_back(call.args[0]);
        break;
      case kSimShowText: messages.push_back(call.text); break;
      case kSimCreateDialog: ++created; break;
      case kSimReadAircraftVariable: ++reads; break;
      case kSimCurrentAircraft: ++aircraftCalls; break;
      default: break;
    }
  }
  if (loads != m_.loads) return Fail("load", "written " + Doubles(loads) + ", expected " + Doubles(m_.loads));
  if (events != m_.events)
    return Fail("events", std::to_string(events.size()) + " events, expected " + std::to_string(m_.events.size()));
  if (messages != m_.messages)
    return Fail("messages", std::to_string(messages.size()) + " messages, expected " +
                                std::to_string(m_.messages.size()));
  if (created != m_.created) return Fail("dialogs", std::to_string(created) + " dialogs created");
  if (m_.gateSilent && !SimLog().empty()) return Fail("gate", "the gate acted without realism");
  if (m_.gateReads >= 0 && (reads != m_.gateReads || aircraftCalls != 1))
    return Fail("gate", std::to_string(reads) + " variable reads, " + std::to_string(aircraftCalls) +
                            " aircraft look-ups");
  if (action.kind == kPaint) {
    const int titles = ModuleTitlesOnTheBar();
    if (titles != 1) return Fail("menu", std::to_string(titles) + " module menus");
  }
  return true;
}

bool Pilot::CheckDialog(size_t index, bool full) {
  const DialogModel& d = m_.dialogs[index];
  const HWND w = d.window;
  const std::string which = "dialog " + std::to_string(index) + ": ";
  const SimTimer* drop = SimFindTimer(w, kDropTimerId);
  if ((drop != nullptr) != d.dropTimer) return Fail("timers", which + "drop timer running: " + (drop ? "yes" : "no"));
  if (drop && drop->period != d.period)
    return Fail("timers", which + "period " + std::to_string(drop->period) + ", expected " + std::to_string(d.period));
  const struct {
    int id;
    bool enabled;
    const char* name;
  } controls[] = {{IDC_CONFIG_LIST, d.list, "list"},          {IDC_LOAD_BUTTON, d.load, "load button"},
                  {IDC_DROP_BUTTON, d.drop, "drop button"},   {IDC_COUNT_FIELD, d.fields, "count field"},
                  {IDC_INTERVAL_FIELD, d.fields, "interval field"}, {IDC_VISUAL_BOX, d.box, "box"}};
  for (const auto& control : controls) {
    if (SimControlEnabled(w, control.id) != control.enabled)
      return Fail("controls", which + control.name + (control.enabled ? " disabled" : " enabled"));
    if (!full && control.id == IDC_DROP_BUTTON) break;
  }
  const std::string label = SimControlText(w, IDC_COUNT_LABEL);
  if (label != CountLabel(d.label)) return Fail("label", which + "\"" + label + "\", count " + std::to_string(d.label));
  if (!full) return true;
  if ((IsWindowVisible(w) != FALSE) != d.visible) return Fail("dialogs", which + "visibility");
  const SimTimer* gate = SimFindTimer(w, kGateTimerId);
  if (!gate || gate->period != 250) return Fail("timers", which + "gate timer");
  if (SimBoxChecked(w, IDC_VISUAL_BOX) != d.checked) return Fail("controls", which + "box check");
  if (SimListSelection(w, IDC_CONFIG_LIST) != d.selection) return Fail("controls", which + "list selection");
  if (SimControlText(w, IDC_COUNT_FIELD) != d.countText || SimControlText(w, IDC_INTERVAL_FIELD) != d.intervalText)
    return Fail("controls", which + "field texts");
  if (SimControlText(w, IDC_STREAMS_TEXT) != (d.twoStreams ? kTwoStreamsText : kOneStreamText))
    return Fail("controls", which + "streams text");
  return true;
}

// Every dialog in full: after the pilot opened or hid one, and after the
// simulator's window closed.
bool Pilot::CheckDialogs() {
  std::vector<HWND> windows = SimModuleDialogs();
  if (windows.size() != m_.dialogs.size())
    return Fail("dialogs", std::to_string(windows.size()) + " dialogs, expected " +
                               std::to_string(m_.dialogs.size()));
  for (size_t i = 0; i < m_.dialogs.size(); ++i) {
    if (windows[i] != m_.dialogs[i].window) return Fail("dialogs", "dialog " + std::to_string(i) + " is not the one made");
    if (!CheckDialog(i, true)) return false;
  }
  if (SimTimerCount(kGateTimerId) != static_cast<int>(m_.dialogs.size())) return Fail("timers", "gate timers");
  const HWND visible = m_.remembered < 0 ? nullptr : m_.dialogs[m_.remembered].window;
  if (SimVisibleDialog() != visible) return Fail("dialogs", "another dialog is visible");
  return true;
}

// The bound an evening of opening and closing keeps: as a dialog opens, the
// only others left are those whose drop runs, each with its one gate timer,
// and the module has one message hook, on the thread its dialogs live on.
// Counted from the simulator's side, its windows, its timers and its hooks.
bool Pilot::CheckDialogBound() {
  const std::vector<SimHook> hooks = SimHooks();
  if (hooks.size() > 1) return Fail("bound", std::to_string(hooks.size()) + " message hooks");
  if (m_.created == 0) return true;
  if (hooks.size() != 1 || hooks[0].type != WH_GETMESSAGE || hooks[0].threadId != GetCurrentThreadId())
    return Fail("bound", "no message hook for the dialogs' thread");
  const std::vector<HWND> windows = SimModuleDialogs();
  size_t running = 0;
  for (HWND window : windows) running += SimFindTimer(window, kDropTimerId) != nullptr;
  if (windows.size() != running + 1)
    return Fail("bound", std::to_string(windows.size()) + " dialogs as one opens beside " + std::to_string(running) +
                             " drops");
  if (static_cast<size_t>(SimTimerCount(kGateTimerId)) != windows.size())
    return Fail("bound", std::to_string(SimTimerCount(kGateTimerId)) + " gate timers for " +
                             std::to_string(windows.size()) + " dialogs");
  return true;
}

// Every slot of every aircraft flown: the managed four as the model says,
// the rest untouched.
bool Pilot::CheckSlots() {
  const char* jumperName = nullptr;
  for (size_t a = 0; a < m_.aircraft.size(); ++a) {
    const SimAircraft* sim = m_.aircraft[a].sim;
    for (int position = 1; position <= sim->slotCount; ++position) {
      const std::string which = "aircraft " + std::to_string(a) + " slot " + std::to_string(position) + ": ";
      const EffectSlot* slot = sim->slots[position - 1];
      if (!slot->name) return Fail("slots", which + "null name");
      if (position > kManaged) {
        if (!SimSlotIsOriginal(sim, position)) return Fail("slots", which + "beyond the managed four, changed");
        continue;
      }
      const SlotModel& expected = m_.aircraft[a].managed[position - 1];
      if (expected.kind == kOriginal || (expected.kind == kUnknown && SimSlotIsOriginal(sim, position))) {
        if (!SimSlotIsOriginal(sim, position)) return Fail("slots", which + "not the aircraft's own");
        continue;
      }
      const SlotKind shown = expected.kind == kUnknown ? expected.kept : expected.kind;
      const EffectSlot& original = sim->originals[position - 1];
      if (slot->x != expected.x || slot->y != expected.y || slot->z != expected.z || slot->next != original.next ||
          slot->reserved != original.reserved)
        return Fail("slots", which + "position " + std::to_string(slot->x) + "," + std::to_string(slot->y) + "," +
                                 std::to_string(slot->z) + ", expected " + std::to_string(expected.x) + "," +
                                 std::to_string(expected.y) + "," + std::to_string(expected.z) +
                                 (expected.kind == kUnknown ? " or its own values" : ""));
      if (shown == kJumper) {
        if (jumperName && slot->name != jumperName) return Fail("slots", which + "a second jumper name buffer");
        jumperName = slot->name;
      }
      const std::string name = slot->name;
      if (name != (shown == kJumper ? m_.effectName : std::string()))
        return Fail("slots", which + "effect name " + Quoted(name));
    }
  }
  return true;
}

}  // namespace random_pilot
