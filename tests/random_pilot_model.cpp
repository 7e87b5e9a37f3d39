// Random pilots: the model. What the module must do, kept apart from its code:
// each action is played on the simulator and the dialog, and changes the
// model as the module must change what the simulator sees.
#include <string.h>

#include <string>
#include <vector>

#include "tests/random_pilot.h"

namespace random_pilot {

std::string Config::Text() const {
  std::string text;
  if (realism.set || visualView.set) {
    text += "[General]\r\n";
    if (realism.set) text += "realism=" + realism.text + "\r\n";
    if (visualView.set) text += "visual_view=" + visualView.text + "\r\n";
  }
  for (int entry = 0; entry < kEntries; ++entry) {
    std::string lines;
    for (int key = 0; key < kSectionKeys; ++key) {
      if (keys[entry][key].set) lines += std::string(kSectionKeyNames[key]) + "=" + keys[entry][key].text + "\r\n";
    }
    if (!lines.empty()) text += std::string("[") + kPresets[entry].section + "]\r\n" + lines;
  }
  return text;
}

void DropModuleMenu() {
  HMENU bar = GetMenu(SimMainWindow());
  for (int item = 0; bar && item < GetMenuItemCount(bar); ++item) {
    char title[64] = {};
    GetMenuStringA(bar, item, title, sizeof(title), MF_BYPOSITION);
    if (strcmp(title, kMenuTitleText) == 0) DeleteMenu(bar, item--, MF_BYPOSITION);
  }
}

AircraftModel NewAircraftModel(SimAircraft* sim) {
  AircraftModel aircraft;
  aircraft.sim = sim;
  aircraft.leftWithJumpers = false;
  for (SlotModel& slot : aircraft.managed) slot = {kOriginal, 0, 0, 0};
  return aircraft;
}

bool Pilot::Apply(const Action& action) {
  DialogModel* visible = Visible();
  // Once the window is gone the simulator has nothing left but FreeLibrary.
  if (m_.closed && action.kind != kFreeLibrary) return false;
  switch (action.kind) {
    case kChoose: {
      if (!visible || !visible->list) return false;
      SimChooseEntry(visible->window, action.a);
      for (const DialogModel& dialog : m_.dialogs) stats_.midDropChoices += dialog.dropTimer;
      m_.touched = m_.remembered;
      const PresetRow& row = kPresets[action.a];
      // The custom entry keeps count and interval until loaded.
      if (action.a != 0) {
        m_.count = row.count;
        m_.periodMs = row.periodMs;
      }
      m_.step = row.step;
      m_.preset = action.a;
      visible->selection = action.a;
      visible->countText = row.countText;
      visible->intervalText = row.intervalText;
      visible->twoStreams = row.twoStreams;
      visible->fields = action.a == 0;
      visible->load = true;
      return true;
    }
    case kTypeCount:
    case kTypeInterval:
      if (!visible || !visible->fields) return false;
      m_.touched = m_.remembered;
      SimTypeText(visible->window, action.kind == kTypeCount ? IDC_COUNT_FIELD : IDC_INTERVAL_FIELD,
                  action.text.c_str());
      (action.kind == kTypeCount ? visible->countText : visible->intervalText) = action.text;
      return true;
    case kLoad:
      if (!visible || !visible->load) return false;
      SimPress(visible->window, IDC_LOAD_BUTTON);
      m_.touched = m_.remembered;
      Load(*visible);
      return true;
    case kDrop:
      if (!visible || !visible->drop) return false;
      SimPress(visible->window, IDC_DROP_BUTTON);
      m_.touched = m_.remembered;
      visible->dropTimer = true;
      visible->period = m_.periodMs;
      visible->load = false;
      m_.messages.push_back(kStartMessageText);
      return true;
    case kTickDrop:
    case kFleet: {
      if (action.a >= static_cast<int>(m_.dialogs.size()) || !m_.dialogs[action.a].dropTimer) return false;
      if (action.kind == kFleet) HopThroughTheFleet();
      DialogModel& dialog = m_.dialogs[action.a];
      m_.touched = action.a;
      if (!SimFireTimer(dialog.window, kDropTimerId)) return Fail("timers", "the drop timer is gone");
      if (!dialog.visible) ++stats_.hiddenTicks;
      Tick(dialog);
      return true;
    }
    case kTickGate: {
      if (action.a >= static_cast<int>(m_.dialogs.size())) return false;
      DialogModel& dialog = m_.dialogs[action.a];
      m_.touched = action.a;
      SimAircraft* sim = Current().sim;
      sim->record->stateFlag = static_cast<BYTE>(action.b);
      sim->variable87 = action.value;
      if (!SimFireTimer(dialog.window, kGateTimerId)) return Fail("timers", "the gate timer is gone");
      m_.gateSilent = m_.realism != 1;
      if (m_.realism == 1) {
        m_.gateReads = action.b == 1 ? 1 : 0;
        bool allowed = action.b == 1 && action.value >= 1.0 && action.value < 2.0;
        if (allowed && !dialog.list) ++stats_.gateOpens;
        dialog.list = allowed;
      }
      return true;
    }
    case kToggleBox:
      if (!visible || !visible->box) return false;
      SimToggleBox(visible->window, IDC_VISUAL_BOX);
      m_.touched = m_.remembered;
      visible->checked = !visible->checked;
      m_.config.visualView = {true, visible->checked ? "1" : "0"};
      return true;
    case kExit:
      if (!visible) return false;
      SimPress(visible->window, IDC_EXIT_BUTTON);
      visible->visible = false;
      m_.remembered = -1;
      return true;
    case kMenu:
      SimMenuCommand(kMenuCommandId);
      SimPumpMessages();  // the box's check state comes as a posted message
      if (m_.remembered < 0) Create();
      return true;
    case kReopen:
      if (!visible) return false;
      ++stats_.reopens;
      SimPress(visible->window, IDC_EXIT_BUTTON);
      visible->visible = false;
      m_.remembered = -1;
      SimMenuCommand(kMenuCommandId);
      SimPumpMessages();
      Create();
      return true;
    case kMoveFolder:
      ++stats_.folderMoves;
      SimMoveCurrentFolder();  // the module keeps to the file it found at start-up
      return true;
    case kPaint:
      if (action.a) DropModuleMenu();
      SimFramePaint();
      return true;
    case kNewAircraft:
      m_.aircraft.push_back(NewAircraftModel(SimAddAircraft(action.a)));
      Fly(static_cast<int>(m_.aircraft.size()) - 1);
      return true;
    case kSwitchAircraft:
      if (action.a >= static_cast<int>(m_.aircraft.size())) return false;
      Fly(action.a);
      return true;
    case kReuseBlocks:
    case kReplaceEmitters:
    case kAppendSlots:
    case kChangeSlot:
      if (action.kind == kChangeSlot && action.a > Current().sim->slotCount) return false;
      if (action.kind == kReuseBlocks && m_.aircraft.size() >= 6) return false;
      SimulatorChange(action);
      return true;
    case kWriteConfig:
      SimWriteConfig(action.config.Text());
      m_.config = action.config;
      return true;
    case kDeleteConfig:
      SimDeleteConfig();
      m_.config = Config();
      return true;
    case kCloseWindow: {
      SimDestroyMainWindow();
      for (const DialogModel& dialog : m_.dialogs)
        if (IsWindow(dialog.window)) return Fail("close", "a dialog outlived the simulator's window");
      // The dialogs' timers die with them, so a running drop never ends:
      // what the module wrote comes back as its dialogs go.
      const bool hadDialogs = !m_.dialogs.empty();
      m_.dialogs.clear();
      m_.remembered = -1;
      m_.closed = true;
      if (hadDialogs) Restore("window closed");
      return true;
    }
    case kFreeLibrary:
      m_.freedAfterClose = m_.closed;
      FreeLibrary(module_);
      // The module pinned itself when it hooked the window: it never learns of it.
      if (!SimModuleResident(module_)) return Fail("FreeLibrary", "FreeLibrary unmapped the module");
      return true;
  }
  return false;
}

void Pilot::Create() {
  // The hidden dialogs that run no drop go first; as each goes, the emitters
  // come back unless a drop still shows jumpers.
  bool destroyed = false, dropRunning = false;
  for (size_t i = m_.dialogs.size(); i > 0; --i) {
    const DialogModel& old = m_.dialogs[i - 1];
    dropRunning |= old.dropTimer;
    if (old.visible || old.dropTimer) continue;
    destroyed = true;
    ++stats_.idleDestroyed;
    m_.dialogs.erase(m_.dialogs.begin() + static_cast<long>(i - 1));
  }
  stats_.idleDestroyedBesideADrop += destroyed && dropRunning;
  if (destroyed && !dropRunning) Restore("idle dialogs destroyed");
  m_.created = 1;
  DialogModel dialog;
  std::vector<HWND> windows = SimModuleDialogs();
  if (windows.size() == m_.dialogs.size() + 1) dialog.window = windows.back();
  dialog.box = Current().sim->slotCount > 0;
  m_.realism = ReferenceAtoi(Config::Read(m_.config.realism));
  dialog.checked = ReferenceAtoi(Config::Read(m_.config.visualView)) == 1;
  m_.dialogs.push_back(dialog);
  m_.remembered = static_cast<int>(m_.dialogs.size()) - 1;
}

void Pilot::Load(DialogModel& dialog) {
  ++stats_.loads;
  if (m_.preset == 0) {
    const int count = ReferenceAtoi(dialog.countText);
    m_.count = count < 0 ? 0 : count;
    const long long milliseconds = ReferenceAtoi(dialog.intervalText) * 1000LL;
    m_.periodMs = milliseconds <= 0 ? 0 : milliseconds >= kLongestPeriod ? kLongestPeriod
                                                                        : static_cast<UINT>(milliseconds);
  }
  dialog.label = m_.count;
  m_.loads.push_back(m_.count * 170.0);
  dialog.drop = true;
  dialog.list = false;
  m_.events.push_back(kRefreshEvent);
}

void Pilot::Tick(DialogModel& dialog) {
  ++stats_.ticks;
  if (m_.count <= 0) {
    ++stats_.dropEnds;
    dialog.drop = false;
    dialog.load = false;
    dialog.list = true;
    dialog.dropTimer = false;
    m_.messages.push_back(kEndMessageText);
    Restore("drop end");
    return;
  }
  dialog.drop = true;
  m_.count -= m_.step;
  dialog.label = m_.count;
  m_.loads.push_back(m_.count * 170.0);
  if (dialog.checked) Program();
}

void Pilot::Program() {
  const Value* keys = m_.config.keys[m_.preset];
  m_.effectName = Config::Read(keys[kName]).substr(0, 259);  // the module reads into 260 bytes
  const double x = ReferenceAtoi(Config::Read(keys[kX]));
  const double y = ReferenceAtoi(Config::Read(keys[kY]));
  const double z = ReferenceAtoi(Config::Read(keys[kZ]));
  AircraftModel& aircraft = Current();
  const int slots = aircraft.sim->slotCount;
  if (slots == 0) return;
  ++stats_.programmed;
  for (int position = 1; position <= slots && position <= kManaged; ++position)
    m_.saved.insert(aircraft.sim->slots[position - 1]);
  if (!m_.crowded && m_.saved.size() > kSaves) {
    m_.crowded = true;
    ++stats_.crowdedRuns;
  }
  aircraft.managed[0] = {kJumper, x, y, z};
  for (int position = 2; position <= slots && position <= kManaged; ++position) {
    aircraft.managed[position - 1] = position == 2 && kPresets[m_.preset].twoStreams ? SlotModel{kJumper, -x, y, z}
                                                                                      : SlotModel{kSilent, 0, 0, 0};
  }
  m_.events.push_back(kProgrammedEvent);
  m_.events.push_back(kRefreshEvent);
}

void Pilot::LeaveCurrentAircraft() {
  AircraftModel& aircraft = Current();
  for (const SlotModel& slot : aircraft.managed) aircraft.leftWithJumpers |= slot.kind != kOriginal;
}

void Pilot::Fly(int aircraft) {
  SimSetCurrentAircraft(m_.aircraft[aircraft].sim);
  if (aircraft != m_.current) LeaveCurrentAircraft();
  m_.current = aircraft;
}

// The simulator keeps a fleet of aircraft with emitters, six once they have
// all joined; each hop flies the next one.
void Pilot::HopThroughTheFleet() {
  ++stats_.fleetHops;
  std::vector<int>& fleet = m_.fleet;
  if (fleet.size() < kFleetSize) {
    m_.aircraft.push_back(NewAircraftModel(SimAddAircraft(4 + static_cast<int>(fleet.size()) % 3)));
    fleet.push_back(static_cast<int>(m_.aircraft.size()) - 1);
    Fly(fleet.back());
    return;
  }
  size_t next = 0;
  for (size_t i = 0; i < fleet.size(); ++i)
    if (fleet[i] == m_.current) next = (i + 1) % fleet.size();
  Fly(fleet[next]);
}

// Every slot of the current chain gets its own values back, whatever happened
// to the chain since the module first wrote it. Only a chain the pilot left
// mid-drop while the module kept more slots than it can may stay as it is.
void Pilot::Restore(const char* when) {
  AircraftModel& aircraft = Current();
  const bool mayBeLost = m_.crowded && aircraft.leftWithJumpers;
  bool wrote = false;
  for (SlotModel& slot : aircraft.managed) {
    if (slot.kind == kOriginal) continue;
    wrote = true;
    slot = mayBeLost ? SlotModel{kUnknown, slot.x, slot.y, slot.z, slot.kind == kUnknown ? slot.kept : slot.kind}
                     : SlotModel{kOriginal, 0, 0, 0};
  }
  for (int position = 1; position <= aircraft.sim->slotCount; ++position)
    m_.saved.erase(aircraft.sim->slots[position - 1]);
  stats_.restores += wrote;
  stats_.mayBeLost += wrote && mayBeLost;
  stats_.restoresAfterReturn += wrote && aircraft.leftWithJumpers;
  if (!mayBeLost) aircraft.leftWithJumpers = false;
  if (when) CheckGivenBack(when, module_, imageSize_);
}

void Pilot::ForgetSlots(AircraftModel& aircraft) {
  for (SlotModel& slot : aircraft.managed) slot = {kOriginal, 0, 0, 0};
  aircraft.leftWithJumpers = false;
}

// What the simulator does to its own emitters, mid-drop or not; the module
// learns of it only from the slots themselves.
void Pilot::SimulatorChange(const Action& action) {
  AircraftModel& aircraft = Current();
  switch (action.kind) {
    case kReuseBlocks: {
      ++stats_.reused;
      SimFreeEmitters(aircraft.sim);
      ForgetSlots(aircraft);
      SimAircraft* sim = SimAddAircraft(action.a);
      SimSetCurrentAircraft(sim);
      m_.aircraft.push_back(NewAircraftModel(sim));
      m_.current = static_cast<int>(m_.aircraft.size()) - 1;
      break;
    }
    case kReplaceEmitters:
      ++stats_.replaced;
      SimReplaceEmitters(aircraft.sim, action.a, action.b != 0);
      ForgetSlots(aircraft);
      break;
    case kAppendSlots: {
      ++stats_.appended;
      const int before = aircraft.sim->slotCount;
      SimAppendSlots(aircraft.sim, action.a);
      for (int i = before; i < kManaged; ++i) aircraft.managed[i] = {kOriginal, 0, 0, 0};
      break;
    }
    case kChangeSlot: {
      ++stats_.changed;
      SimChangeSlot(aircraft.sim, action.a, action.b != 0);
      if (action.a > kManaged) break;
      SlotModel& slot = aircraft.managed[action.a - 1];
      if (action.b) {
        slot = {kOriginal, 0, 0, 0};
      } else if (slot.kind != kOriginal) {
        // Still under the module's name: given back whole, with the values it
        // had before the module first wrote it.
        stats_.changedUnderOurName += slot.kind != kUnknown;
        const EffectSlot* live = aircraft.sim->slots[action.a - 1];
        slot.x = live->x;
        slot.y = live->y;
        slot.z = live->z;
      }
      break;
    }
    default: break;
  }
}

}  // namespace random_pilot
