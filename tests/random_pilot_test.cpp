// Random pilots: long seeded runs of what a pilot and the simulator can do to
// the real Kolvarine.dll, every step checked against a small model of what the
// module must show, write and leave in the aircraft. A failing run is shrunk to
// the fewest steps that still fail and printed one action per line.
//
//   KOLVARINE_RANDOM_SEQUENCES  runs to play
//   KOLVARINE_RANDOM_STEPS      actions per run
//   KOLVARINE_RANDOM_SEED       seed of the first run; run i plays seed + i
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <limits>
#include <set>
#include <string>
#include <vector>

#include "tests/fixtures.h"

namespace {

// Fixed, so CI replays the same runs. Each run loads the module and opens its
// dialogs afresh, which costs tens of milliseconds under Wine, so the default
// keeps the suite short; 32-bit runs are fewer still, as some machines emulate
// that code at a twentieth of the speed.
const uint64_t kBaseSeed = 0x4B6F6C7661726E31ull;
const int kDefaultSequences = sizeof(void*) == 4 ? 16 : 100;
const int kDefaultSteps = 60;
const int kShrinkReplays = 600;

// --- What the module must do, written down apart from its code --------------

struct PresetRow {
  const char* name;  // for printed sequences
  const char* section;
  int count;
  int step;
  UINT periodMs;
  bool twoStreams;
  const char* countText;
  const char* intervalText;
};
const int kEntries = 7;
const PresetRow kPresets[kEntries] = {
    {"custom", "user", 0, 1, 0, false, "0", "0"},      {"mi8", "mi8", 16, 1, 3000, false, "16", "3"},
    {"an2", "an2", 10, 1, 3000, false, "10", "3"},     {"an12", "an12", 60, 1, 700, false, "60", "0.7"},
    {"an22", "an22", 150, 2, 700, true, "150", "0.7"}, {"an26", "an26", 30, 1, 800, false, "30", "0.8"},
    {"il76", "il76", 124, 2, 800, true, "124", "0.8"},
};
const char kOneStream[] = "Выброска производится:\r\n   - 1 поток по 1 человеку";
const char kTwoStreams[] = "Выброска производится:\r\n   - 2 потока по 1 человеку";
const char kStartMessage[] = "Командир, начинаем выброску...";
const char kEndMessage[] = "Командир, выброска окончена...";
const char kMenuTitle[] = "Зоркрыл";
const unsigned long kProgrammedEvent = 0x10201;
const unsigned long kRefreshEvent = 0x10202;
const int kManaged = 4;
// The module keeps the own values of 16 slots: a fifth aircraft shown with
// jumpers while four others hold theirs makes it drop some of those. It
// refuses the current aircraft a save only when all 16 lie in the current
// chain beside an unsaved slot, which takes 17 slots or more; chains here stay
// at 16 (the emitter stories of the unload tests play longer ones).
const int kSaves = 16;
const int kLongestChain = 16;
const int kFleetSize = 6;
const UINT kLongestPeriod = 0x7FFFFFFF;

// atoi as msvcrt's strtol reads it: saturating at the 32-bit limits.
int ParseInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  return static_cast<int>(value > 2147483647LL ? 2147483647LL : value);
}

// --- The configuration file as keys, so the model can read what it wrote ----

struct Value {
  bool set = false;
  std::string text;
};
enum SectionKey { kName, kX, kY, kZ, kSectionKeys };
const char* const kSectionKeyNames[kSectionKeys] = {"effect_name", "position_x", "position_y", "position_z"};

struct Config {
  Value realism;
  Value visualView;
  Value keys[kEntries][kSectionKeys];

  static std::string Read(const Value& value) { return value.set ? value.text : std::string(); }
  std::string Text() const {
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
};

// --- Actions: plain data, so a run replays exactly --------------------------

enum Kind {
  kChoose,        // a = list entry
  kTypeCount,     // text
  kTypeInterval,  // text
  kLoad,
  kDrop,      // a = presses
  kTickDrop,  // a = dialog (creation order), b = ticks
  kTickGate,  // a = dialog, b = flag byte, value = variable 87
  kToggleBox,
  kExit,
  kMenu,
  kReopen,  // the pilot closes the dialog and opens it again at once
  kPaint,           // a = 1: the simulator first rebuilds its bar without the module's menu
  kNewAircraft,     // a = slots
  kSwitchAircraft,  // a = aircraft (creation order)
  kFleet,           // b hops through the simulator's fleet, each to its next aircraft and a tick of dialog a
  kWriteConfig,     // config
  kDeleteConfig,
  // The simulator at work on the current aircraft's emitters:
  kReuseBlocks,      // frees them; a new aircraft with a = slots gets the same blocks
  kReplaceEmitters,  // a new chain of a slots for the same record; b = 1: in the same blocks
  kAppendSlots,      // a = slots appended
  kChangeSlot,       // slot a set again; b = 1: with a new name of its own, else the position only
  // The simulator going away, in either order:
  kCloseWindow,  // the main window and with it the module's dialogs; only FreeLibrary may follow
  kFreeLibrary,
  kMoveFolder,  // a file dialog of the simulator or of another add-on moves the current folder
};

struct Action {
  Kind kind = kPaint;
  int a = 0;
  int b = 0;
  double value = 0.0;
  std::string text;
  Config config;
};

struct Sequence {
  uint64_t seed = 0;
  int firstSlots = 4;
  std::vector<Action> actions;
};

std::string Quoted(const std::string& text) {
  if (text.size() > 40) return "\"" + text.substr(0, 12) + "...\" (" + std::to_string(text.size()) + " chars)";
  return "\"" + text + "\"";
}

std::string Describe(const Action& action) {
  switch (action.kind) {
    case kChoose: return "choose entry " + std::to_string(action.a) + " (" + kPresets[action.a].name + ")";
    case kTypeCount: return "type count " + Quoted(action.text);
    case kTypeInterval: return "type interval " + Quoted(action.text);
    case kLoad: return "press load";
    case kDrop: return "press drop x" + std::to_string(action.a);
    case kTickDrop: return "tick drop timer of dialog " + std::to_string(action.a) + " x" + std::to_string(action.b);
    case kTickGate: {
      char text[96];
      snprintf(text, sizeof(text), "tick gate timer of dialog %d with flag %d, variable 87 = %g", action.a, action.b,
               action.value);
      return text;
    }
    case kToggleBox: return "toggle visualisation box";
    case kExit: return "press exit";
    case kMenu: return "menu command 40001";
    case kReopen: return "press exit, then menu command 40001";
    case kPaint: return action.a ? "simulator rebuilds its bar without the module's menu; frame paint" : "frame paint";
    case kNewAircraft: return "new aircraft with " + std::to_string(action.a) + " slots";
    case kSwitchAircraft: return "back to aircraft " + std::to_string(action.a);
    case kFleet: return std::to_string(action.b) + " hops through the fleet, each with a tick of dialog " +
                        std::to_string(action.a);
    case kWriteConfig: {
      std::string text = action.config.Text();
      for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " | ");
      return "write config " + Quoted(text);
    }
    case kDeleteConfig: return "delete config";
    case kReuseBlocks: return "simulator frees the emitters; new aircraft with " + std::to_string(action.a) +
                              " slots in the same blocks";
    case kReplaceEmitters: return "simulator gives the aircraft a new chain of " + std::to_string(action.a) +
                                  " slots" + (action.b ? " in the same blocks" : " elsewhere");
    case kAppendSlots: return "simulator appends " + std::to_string(action.a) + " slots";
    case kChangeSlot: return "simulator sets slot " + std::to_string(action.a) +
                             (action.b ? " with a name of its own" : ", position only");
    case kCloseWindow: return "simulator closes its window";
    case kFreeLibrary: return "simulator calls FreeLibrary";
    case kMoveFolder: return "a file dialog moves the current folder";
  }
  return "?";
}

std::string Listing(const Sequence& sequence, size_t steps) {
  std::string text = "  first aircraft: " + std::to_string(sequence.firstSlots) + " slots\n";
  for (size_t i = 0; i < steps && i < sequence.actions.size(); ++i)
    text += "  " + std::to_string(i + 1) + ". " + Describe(sequence.actions[i]) + "\n";
  return text;
}

// --- Random numbers: splitmix64, the same on every build --------------------

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  bool OneIn(int n) { return Below(n) == 0; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) { return items[Below(static_cast<int>(N))]; }

 private:
  uint64_t state_;
};

std::string RandomCountText(Rng& rng) {
  static const char* const texts[] = {"0", "1", "2", "3", "7", "16", "-1", "-3", "+5", " 12", "0.7", "1.5", "12abc",
                                      "abc", "", "пять", "2147483647", "2147483648", "99999999999", "-99999999999",
                                      "-0", "00000000000000000000042"};
  return rng.OneIn(3) ? std::to_string(rng.Below(300)) : rng.Pick(texts);
}

std::string RandomIntervalText(Rng& rng) {
  static const char* const texts[] = {"0", "1", "3", "-4", "0.7", "", "x", "2147483", "2147484", "3000000",
                                      "99999999999", "-99999999999"};
  return rng.OneIn(3) ? std::to_string(rng.Below(10)) : rng.Pick(texts);
}

Config RandomConfig(Rng& rng) {
  static const char* const realism[] = {"0", "1", "1", "1", "2", "01", "-1", "1abc"};
  static const char* const visual[] = {"0", "1", "1", "2"};
  static const char* const names[] = {"fx_jumper", "fx_para", "", "x"};
  static const char* const positions[] = {"0", "3", "-3", "12", "", "abc", "5x", "99999999999", "-99999999999"};
  Config config;
  if (!rng.OneIn(4)) config.realism = {true, rng.Pick(realism)};
  if (!rng.OneIn(4)) config.visualView = {true, rng.Pick(visual)};
  for (int entry = 0; entry < kEntries; ++entry) {
    if (rng.OneIn(3)) continue;
    for (int key = 0; key < kSectionKeys; ++key) {
      if (rng.OneIn(5)) continue;
      std::string text;
      if (key == kName) {
        text = rng.OneIn(40) ? std::string(300, 'n') : rng.Pick(names);
        if (rng.OneIn(3)) text = "fx" + std::to_string(rng.Below(1000));
      } else {
        text = rng.OneIn(2) ? std::to_string(rng.Below(201) - 100) : rng.Pick(positions);
      }
      config.keys[entry][key] = {true, text};
    }
  }
  return config;
}

// --- The model ---------------------------------------------------------------

// kUnknown: the module may have had to drop the slot's own values (more
// chains left mid-drop than it keeps): it holds them, or still what the
// module last wrote (`kept`, at x, y, z).
enum SlotKind { kOriginal, kJumper, kSilent, kUnknown };
struct SlotModel {
  SlotKind kind;
  double x, y, z;
  SlotKind kept = kOriginal;
};

struct AircraftModel {
  SimAircraft* sim;
  SlotModel managed[kManaged];
  // Left by the pilot while it showed jumpers: kept as it is until it is
  // current again and a drop ends there.
  bool leftWithJumpers;
};

struct DialogModel {
  HWND window = nullptr;
  bool visible = true;
  bool list = true, load = false, drop = false, fields = true, box = false, checked = false;
  int label = 0;
  int selection = 0;
  std::string countText = "0", intervalText = "0";
  bool twoStreams = false;
  bool dropTimer = false;
  UINT period = 0;
};

struct Model {
  std::vector<AircraftModel> aircraft;
  int current = 0;
  // Creation order. Opening one destroys the hidden ones that run no drop.
  std::vector<DialogModel> dialogs;
  int remembered = -1;
  int count = 0, step = 0, preset = 0;
  UINT periodMs = 0;
  int realism = 0;
  // Slot blocks written and not given back, whose own values the module keeps,
  // exactly until a program needs a seventeenth: then the module has dropped
  // some of a chain left mid-drop, and the run is crowded.
  std::set<const EffectSlot*> saved;
  bool crowded = false;
  std::vector<int> fleet;  // aircraft of the fleet hops, in the order they joined
  std::string effectName;  // what the module's effect-name buffer holds
  Config config;
  // What the step must have written to the simulator.
  std::vector<double> loads;
  std::vector<unsigned long> events;
  std::vector<std::string> messages;
  int created = 0;     // dialogs made by the step
  int touched = -1;    // the dialog the step acted on
  int gateReads = -1;  // variable reads of a gate tick; -1 when the step is no gate tick
  bool gateSilent = false;
  bool closed = false;  // the simulator's window is gone, and the module's dialogs with it
  bool freedAfterClose = false;
};

struct Outcome {
  bool failed = false;
  size_t step = 0;
  std::string tag;  // which invariant broke; shrinking keeps to the same one
  std::string message;
};

struct Stats {
  long steps = 0, loads = 0, ticks = 0, programmed = 0, dropEnds = 0, restores = 0, gateOpens = 0, hiddenTicks = 0;
  long midDropChoices = 0, restoresAfterReturn = 0, crowdedRuns = 0, fleetHops = 0, mayBeLost = 0;
  long reused = 0, replaced = 0, appended = 0, changed = 0, changedUnderOurName = 0;
  long closes = 0, closesMidDrop = 0, freeLibraries = 0, freeLibrariesMidDrop = 0;
  long reopens = 0, idleDestroyed = 0, idleDestroyedBesideADrop = 0, folderMoves = 0;
};

// Every count, for adding up the batches played by child processes.
long Stats::* const kStatFields[] = {
    &Stats::steps,        &Stats::loads,         &Stats::ticks,         &Stats::programmed,
    &Stats::dropEnds,     &Stats::restores,      &Stats::gateOpens,     &Stats::hiddenTicks,
    &Stats::midDropChoices, &Stats::restoresAfterReturn, &Stats::crowdedRuns, &Stats::reused,
    &Stats::replaced,     &Stats::appended,      &Stats::changed,       &Stats::changedUnderOurName,
    &Stats::closes,       &Stats::closesMidDrop, &Stats::freeLibraries, &Stats::freeLibrariesMidDrop,
    &Stats::fleetHops,    &Stats::mayBeLost,     &Stats::reopens,       &Stats::idleDestroyed,
    &Stats::idleDestroyedBesideADrop, &Stats::folderMoves,
};
const char kStatsLine[] = "RandomPilotStats:";

// Where a crash happened, for the report of a process that does not survive.
const Sequence* g_playing = nullptr;
size_t g_playingStep = 0;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
  if (g_playing) {
    fprintf(stderr, "\nRandomPilot: crash 0x%08lx in the run with seed %llu at step %u:\n%s",
            static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
            static_cast<unsigned long long>(g_playing->seed), static_cast<unsigned>(g_playingStep + 1),
            Listing(*g_playing, g_playingStep + 1).c_str());
    fflush(stderr);
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

// The simulator's bar rebuilt without the module's menu, as after a change of
// its own menus.
void DropModuleMenu() {
  HMENU bar = GetMenu(SimMainWindow());
  for (int item = 0; bar && item < GetMenuItemCount(bar); ++item) {
    char title[64] = {};
    GetMenuStringA(bar, item, title, sizeof(title), MF_BYPOSITION);
    if (strcmp(title, kMenuTitle) == 0) DeleteMenu(bar, item--, MF_BYPOSITION);
  }
}

class Pilot {
 public:

  // Generates `generate` actions while playing when `rng` is given; replays
  // the sequence's own actions otherwise.
  Outcome Play(Sequence* sequence, Rng* rng, size_t generate);
  const Stats& stats() const { return stats_; }

 private:
  Action Generate(Rng& rng, size_t index);
  void Perform(const Action& action);
  bool Apply(const Action& action);
  void Create();
  void Load(DialogModel& dialog);
  void Tick(DialogModel& dialog);
  void Program();
  void Restore(const char* when);
  void SimulatorChange(const Action& action);
  void ForgetSlots(AircraftModel& aircraft);
  bool CheckGivenBack(const char* when, HMODULE module, size_t imageSize);
  void LeaveCurrentAircraft();
  void Fly(int aircraft);
  void HopThroughTheFleet();
  bool Check(const Action& action);
  bool CheckLog(const Action& action);
  bool CheckDialog(size_t index, bool full);
  bool CheckDialogs();
  bool CheckSlots();
  bool CheckDialogBound();
  bool OpenSimulator();
  void Finish();
  bool Fail(const char* tag, const std::string& message);
  DialogModel* Visible() { return m_.remembered < 0 ? nullptr : &m_.dialogs[m_.remembered]; }
  AircraftModel& Current() { return m_.aircraft[m_.current]; }

  LONG_PTR simulatorProc_ = 0;
  HMODULE module_ = nullptr;
  size_t imageSize_ = 0;
  Model m_;
  Outcome outcome_;
  Stats stats_;
};

bool Pilot::Fail(const char* tag, const std::string& message) {
  if (!outcome_.failed) {
    outcome_.failed = true;
    outcome_.tag = tag;
    outcome_.message = std::string(tag) + ": " + message;
  }
  return false;
}

AircraftModel NewAircraftModel(SimAircraft* sim) {
  AircraftModel aircraft;
  aircraft.sim = sim;
  aircraft.leftWithJumpers = false;
  for (SlotModel& slot : aircraft.managed) slot = {kOriginal, 0, 0, 0};
  return aircraft;
}

// Each run has a simulator window of its own: a module stays in the process
// after FreeLibrary, hooked to the window it found at load.
bool Pilot::OpenSimulator() {
  // Hidden and off the screen: a shown window costs Wine an X window, and
  // dialogs placed beside it would be painted; the messages are the same.
  if (!SimCreateMainWindow(true, false)) return false;
  SetWindowPos(SimMainWindow(), nullptr, -8000, -8000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  simulatorProc_ = GetWindowLongPtrA(SimMainWindow(), GWLP_WNDPROC);
  return true;
}

Outcome Pilot::Play(Sequence* sequence, Rng* rng, size_t generate) {
  m_ = Model();
  outcome_ = Outcome();
  SimReset();
  SimReturnToSimulatorFolder();  // the module finds its file where it is loaded
  SimDeleteConfig();
  if (!OpenSimulator()) {
    Fail("window", "no window: is there a display?");
    return outcome_;
  }
  SimAircraft* first = SimAddAircraft(sequence->firstSlots);
  SimSetCurrentAircraft(first);
  m_.aircraft.push_back(NewAircraftModel(first));
  module_ = SimLoadModule(ModuleDllPath().c_str());
  if (!module_) {
    SimDestroyMainWindow();
    Fail("load", "cannot load " + ModuleDllPath());
    return outcome_;
  }
  imageSize_ = SimImageSize(module_);
  g_playing = sequence;
  const size_t steps = rng ? generate : sequence->actions.size();
  for (size_t i = 0; i < steps && !outcome_.failed && !m_.freedAfterClose; ++i) {
    if (rng) sequence->actions.push_back(Generate(*rng, i));
    g_playingStep = i;
    outcome_.step = i;
    Perform(sequence->actions[i]);
  }
  if (!outcome_.failed) outcome_.step = sequence->actions.size();
  g_playingStep = sequence->actions.size();
  Finish();
  g_playing = nullptr;
  return outcome_;
}

Action Pilot::Generate(Rng& rng, size_t index) {
  // Half the runs write the file first, so realism and the box are often on from the first dialog.
  if (index == 0 && rng.OneIn(2)) {
    Action action;
    action.kind = kWriteConfig;
    action.config = RandomConfig(rng);
    return action;
  }
  DialogModel* visible = Visible();
  std::vector<int> running, shown;  // dialogs with a drop running, and those of them that show jumpers
  for (size_t i = 0; i < m_.dialogs.size(); ++i) {
    if (m_.dialogs[i].dropTimer) running.push_back(static_cast<int>(i));
    if (m_.dialogs[i].dropTimer && m_.dialogs[i].checked) shown.push_back(static_cast<int>(i));
  }
  Action action;
  if (m_.closed) {
    ++stats_.freeLibraries;
    action.kind = kFreeLibrary;  // nothing else is left to do
    return action;
  }
  const struct {
    Kind kind;
    int weight;
  } table[] = {
      {kChoose, visible && visible->list ? 10 : 0},
      {kTypeCount, visible && visible->fields ? 4 : 0},
      {kTypeInterval, visible && visible->fields ? 3 : 0},
      {kLoad, visible && visible->load ? 8 : 0},
      {kDrop, visible && visible->drop ? 6 : 0},
      // A pilot with an idle dialog in front sets it up while hidden drops run on.
      {kTickDrop, running.empty() ? 0 : visible && !visible->dropTimer ? 8 : 30},
      {kTickGate, m_.dialogs.empty() ? 0 : 5},
      {kToggleBox, visible && visible->box ? 3 : 0},
      {kExit, !visible ? 0 : visible->dropTimer ? 3 : 1},  // hidden running drops share the state
      {kMenu, visible ? 1 : 20},
      {kReopen, visible ? 3 : 0},
      {kMoveFolder, 1},
      {kPaint, 1},
      {kNewAircraft, m_.aircraft.size() < 6 ? 2 : 0},
      {kSwitchAircraft, m_.aircraft.size() > 1 ? (running.empty() ? 2 : 4) : 0},
      // Jumpers shown on aircraft after aircraft crowd the module's saves.
      {kFleet, !shown.empty() ? 12 : running.empty() ? 0 : 1},
      {kWriteConfig, 3},
      {kDeleteConfig, 1},
      // The simulator's own changes matter most while a drop runs.
      {kReuseBlocks, m_.aircraft.size() < 6 ? (running.empty() ? 1 : 2) : 0},
      {kReplaceEmitters, running.empty() ? 1 : 2},
      {kAppendSlots, Current().sim->slotCount + 2 <= kLongestChain ? 1 : 0},
      {kChangeSlot, Current().sim->slotCount > 0 ? (running.empty() ? 1 : 6) : 0},
  };
  // The simulator going away ends a run early, so rarely, and most often mid-drop.
  if (rng.OneIn(running.empty() ? 150 : 50)) {
    ++stats_.closes;
    stats_.closesMidDrop += !running.empty();
    action.kind = kCloseWindow;
    return action;
  }
  if (rng.OneIn(40)) {
    ++stats_.freeLibraries;
    stats_.freeLibrariesMidDrop += !running.empty();
    action.kind = kFreeLibrary;
    return action;
  }
  int total = 0;
  for (const auto& row : table) total += row.weight;
  int pick = rng.Below(total);
  action.kind = kPaint;
  for (const auto& row : table) {
    if (pick < row.weight) {
      action.kind = row.kind;
      break;
    }
    pick -= row.weight;
  }
  static const int slotCounts[] = {0, 1, 4, 4, 6, 6};
  static const int flags[] = {1, 1, 1, 0, 2};
  static const double variables[] = {0.0, 1.0, 1.0, 1.5, 1.5, 2.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(), 1e300};
  switch (action.kind) {
    case kChoose: action.a = rng.OneIn(3) ? 0 : rng.Below(kEntries); break;  // custom loads need it often
    case kTypeCount: action.text = RandomCountText(rng); break;
    case kTypeInterval: action.text = RandomIntervalText(rng); break;
    case kDrop: action.a = rng.OneIn(4) ? 2 + rng.Below(2) : 1; break;
    case kTickDrop:
      action.a = running[rng.Below(static_cast<int>(running.size()))];
      // Bursts carry long drops to their end within a run.
      action.b = rng.OneIn(4) ? 1 + rng.Below(60) : 1;
      break;
    case kFleet:
      action.a = shown.empty() ? running[rng.Below(static_cast<int>(running.size()))]
                               : shown[rng.Below(static_cast<int>(shown.size()))];
      action.b = rng.OneIn(3) ? 1 + rng.Below(3) : 5 + rng.Below(4);
      break;
    case kPaint: action.a = rng.OneIn(2); break;
    case kTickGate:
      action.a = rng.Below(static_cast<int>(m_.dialogs.size()));
      action.b = rng.Pick(flags);
      action.value = rng.Pick(variables);
      break;
    case kNewAircraft: action.a = rng.Pick(slotCounts); break;
    case kSwitchAircraft: {
      // Often back to an aircraft left showing jumpers: its slots must come home at the next drop end.
      std::vector<int> left;
      for (size_t i = 0; i < m_.aircraft.size(); ++i)
        if (m_.aircraft[i].leftWithJumpers) left.push_back(static_cast<int>(i));
      action.a = !left.empty() && rng.OneIn(2) ? left[rng.Below(static_cast<int>(left.size()))]
                                               : rng.Below(static_cast<int>(m_.aircraft.size()));
      break;
    }
    case kWriteConfig: action.config = RandomConfig(rng); break;
    case kReuseBlocks: action.a = rng.Pick(slotCounts); break;
    case kReplaceEmitters:
      action.a = rng.Pick(slotCounts);
      action.b = rng.OneIn(3) ? 0 : 1;
      break;
    case kAppendSlots: action.a = 1 + rng.Below(2); break;

    case kChangeSlot:
      action.a = 1 + rng.Below(Current().sim->slotCount < kManaged + 1 ? Current().sim->slotCount : kManaged + 1);
      action.b = rng.OneIn(2) ? 1 : 0;
      break;
    default: break;
  }
  return action;
}

// One step, or one tick or press at a time for repeated ones, each checked.
void Pilot::Perform(const Action& action) {
  const bool ticks = action.kind == kTickDrop || action.kind == kFleet;
  const int repeats = ticks ? action.b : action.kind == kDrop ? action.a : 1;
  for (int i = 0; i < repeats && !outcome_.failed; ++i) {
    SimClearLog();
    m_.loads.clear();
    m_.events.clear();
    m_.messages.clear();
    m_.created = 0;
    m_.touched = -1;
    m_.gateReads = -1;
    m_.gateSilent = false;
    if (!Apply(action)) return;  // a disabled control or a dialog this replay never made
    ++stats_.steps;
    if (m_.count < 0) Fail("model", "count below zero");
    Check(action);
  }
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
      m_.messages.push_back(kStartMessage);
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
      if (!SimModuleResident(module_)) return Fail("unload", "FreeLibrary unmapped the module");
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
  m_.realism = ParseInt(Config::Read(m_.config.realism));
  dialog.checked = ParseInt(Config::Read(m_.config.visualView)) == 1;
  m_.dialogs.push_back(dialog);
  m_.remembered = static_cast<int>(m_.dialogs.size()) - 1;
}

void Pilot::Load(DialogModel& dialog) {
  ++stats_.loads;
  if (m_.preset == 0) {
    const int count = ParseInt(dialog.countText);
    m_.count = count < 0 ? 0 : count;
    const long long milliseconds = ParseInt(dialog.intervalText) * 1000LL;
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
    m_.messages.push_back(kEndMessage);
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
  const double x = ParseInt(Config::Read(keys[kX]));
  const double y = ParseInt(Config::Read(keys[kY]));
  const double z = ParseInt(Config::Read(keys[kZ]));
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

// --- Checks --------------------------------------------------------------------

std::string Doubles(const std::vector<double>& values) {
  std::string text = "{";
  for (double value : values) text += " " + std::to_string(value);
  return text + " }";
}

// Each step checks what it wrote, the dialog it acted on, the running drops
// and every slot; window lists only change when dialogs are opened or hidden.
bool Pilot::Check(const Action& action) {
  if (!CheckLog(action)) return false;
  if (action.kind == kFreeLibrary && !SimLog().empty())
    return Fail("unload", std::string("FreeLibrary called ") + SimOpName(SimLog().front().op));
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
    int titles = 0;
    for (const std::string& title : SimMenuBarTitles()) titles += title == kMenuTitle;
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
  if (SimControlText(w, IDC_STREAMS_TEXT) != (d.twoStreams ? kTwoStreams : kOneStream))
    return Fail("controls", which + "streams text");
  return true;
}

// Every dialog in full: after the pilot opened or hid one, and before unloading.
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
// only others left are those whose drop runs, each with its one gate timer.
// Counted from the simulator's side, its windows and its timers.
bool Pilot::CheckDialogBound() {
  if (m_.created == 0) return true;
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

// Every run ends with the simulator going away: its window closes, then it
// calls FreeLibrary, unless the run did either already.
void Pilot::Finish() {
  if (!outcome_.failed && !m_.closed) {
    Action close;
    close.kind = kCloseWindow;
    Perform(close);
  }
  if (!outcome_.failed && !m_.freedAfterClose) {
    Action unload;
    unload.kind = kFreeLibrary;
    Perform(unload);
  }
  SimDestroyMainWindow();  // after a failure, for the next run
  if (!outcome_.failed && !SimTimers().empty()) Fail("close", "timers outlived the simulator's window");
}

// --- Shrinking -----------------------------------------------------------------

// Removes chunks of steps, halving the chunk down to single steps, then cuts
// repeated presses and ticks to one, as long as the replay still breaks the
// same invariant.
bool StillFails(Pilot& pilot, Sequence* candidate, const std::string& tag, int* replays) {
  ++*replays;
  Outcome outcome = pilot.Play(candidate, nullptr, 0);
  if (!outcome.failed || outcome.tag != tag) return false;
  if (outcome.step < candidate->actions.size()) candidate->actions.resize(outcome.step + 1);
  return true;
}

Sequence Shrink(Pilot& pilot, Sequence failing, const std::string& tag, int* replays) {
  for (size_t chunk = failing.actions.size() / 2; chunk > 0; chunk /= 2) {
    for (size_t start = 0; start < failing.actions.size() && *replays < kShrinkReplays;) {
      Sequence candidate = failing;
      const size_t end = start + chunk < candidate.actions.size() ? start + chunk : candidate.actions.size();
      candidate.actions.erase(candidate.actions.begin() + start, candidate.actions.begin() + end);
      if (StillFails(pilot, &candidate, tag, replays)) {
        failing = candidate;
      } else {
        start += chunk;
      }
    }
  }
  for (size_t i = 0; i < failing.actions.size() && *replays < kShrinkReplays; ++i) {
    Sequence candidate = failing;
    Action& action = candidate.actions[i];
    const bool ticks = action.kind == kTickDrop || action.kind == kFleet;
    int* repeats = action.kind == kDrop ? &action.a : ticks ? &action.b : nullptr;
    if (!repeats || *repeats == 1) continue;
    *repeats = 1;
    if (StillFails(pilot, &candidate, tag, replays)) failing = candidate;
  }
  return failing;
}

std::string Where(const Outcome& outcome, const Sequence& sequence) {
  return outcome.step < sequence.actions.size() ? "at step " + std::to_string(outcome.step + 1) : "at unload";
}

long EnvNumber(const char* name, long fallback) {
  const char* text = getenv(name);
  return text && *text ? strtol(text, nullptr, 0) : fallback;
}

uint64_t EnvSeed(uint64_t fallback) {
  const char* text = getenv("KOLVARINE_RANDOM_SEED");
  return text && *text ? strtoull(text, nullptr, 0) : fallback;
}

class RandomPilot : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    SimEnterTempFolder();
    previousFilter_ = SetUnhandledExceptionFilter(ReportCrash);
  }
  void TearDown() override {
    SetUnhandledExceptionFilter(previousFilter_);
    SimDestroyMainWindow();
    SimLeaveTempFolder();
    SimReset();
  }

  // Plays one sequence; on failure shrinks it and reports both.
  bool PlayAndReport(Pilot& pilot, Sequence sequence, Rng* rng, size_t steps) {
    Outcome outcome = pilot.Play(&sequence, rng, steps);
    if (!outcome.failed) return true;
    if (outcome.step < sequence.actions.size()) sequence.actions.resize(outcome.step + 1);
    int replays = 0;
    Sequence shortest = Shrink(pilot, sequence, outcome.tag, &replays);
    Outcome last = pilot.Play(&shortest, nullptr, 0);
    ADD_FAILURE() << "run with seed " << sequence.seed << " (replay alone: KOLVARINE_RANDOM_SEED=" << sequence.seed
                  << " KOLVARINE_RANDOM_SEQUENCES=1)\n"
                  << "failed " << Where(outcome, sequence) << ": " << outcome.message << "\n"
                  << "shortest failing sequence found in " << replays << " replays, failing " << Where(last, shortest)
                  << ": " << last.message << "\n"
                  << Listing(shortest, shortest.actions.size());
    return false;
  }

  // Runs `count` sequences from seed `base` here; false after the first failure.
  bool PlayHere(uint64_t base, long count, long steps, Stats* stats) {
    Pilot pilot;
    bool passed = true;
    for (long i = 0; i < count && passed; ++i) {
      Sequence sequence;
      sequence.seed = base + static_cast<uint64_t>(i);
      Rng rng(sequence.seed);
      static const int firstSlots[] = {0, 1, 4, 4, 6, 6};
      sequence.firstSlots = rng.Pick(firstSlots);
      passed = PlayAndReport(pilot, sequence, &rng, static_cast<size_t>(steps));
    }
    *stats = pilot.stats();
    return passed;
  }

  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter_ = nullptr;
};

// Every module a run loads stays in the process, so long series are played in
// batches, each by a child process of its own that ends with its modules.
const long kDefaultBatch = 250;
const DWORD kBatchLimitMs = 30 * 60 * 1000;

// Seeded runs from a freshly loaded module each; the first failing one stops the test.
TEST_F(RandomPilot, RandomSequencesKeepTheModuleInStepWithTheModel) {
  const long sequences = EnvNumber("KOLVARINE_RANDOM_SEQUENCES", kDefaultSequences);
  const long steps = EnvNumber("KOLVARINE_RANDOM_STEPS", kDefaultSteps);
  const long batch = EnvNumber("KOLVARINE_RANDOM_BATCH", kDefaultBatch);
  const uint64_t base = EnvSeed(kBaseSeed);
  Stats s;
  const char* batchStart = getenv("KOLVARINE_RANDOM_BATCH_START");
  if (batchStart || sequences <= batch) {
    // A batch of a longer series, or a series short enough to play here.
    const long first = batchStart ? strtol(batchStart, nullptr, 10) : 0;
    const bool passed = PlayHere(base + static_cast<uint64_t>(first), sequences, steps, &s);
    if (batchStart) {
      printf("%s", kStatsLine);
      for (long Stats::*field : kStatFields) printf(" %ld", s.*field);
      printf("\n");
      return;
    }
    if (!passed) return;
  } else {
    for (long first = 0; first < sequences; first += batch) {
      const long count = sequences - first < batch ? sequences - first : batch;
      ChildRun run = RunThisProgram("--gtest_filter=RandomPilot.*",
                                    {"KOLVARINE_RANDOM_BATCH_START=" + std::to_string(first),
                                     "KOLVARINE_RANDOM_SEQUENCES=" + std::to_string(count)},
                                    kBatchLimitMs);
      const size_t line = run.output.find(kStatsLine);
      if (run.status != 0 || line == std::string::npos) {
        ADD_FAILURE() << "batch of runs " << first << " to " << first + count - 1 << " (exit status " << run.status
                      << "):\n" << run.output;
        return;
      }
      const char* numbers = run.output.c_str() + line + sizeof(kStatsLine) - 1;
      for (long Stats::*field : kStatFields) s.*field += strtol(numbers, const_cast<char**>(&numbers), 10);
    }
  }
  printf("%ld runs of %ld actions from seed %llu: %ld steps, %ld loads, %ld drop ticks (%ld in hidden dialogs), "
         "%ld programmed, %ld drop ends, %ld give-backs (%ld to an aircraft left mid-drop), %ld gate openings, "
         "%ld choices during a drop; simulator: %ld blocks reused for another aircraft, %ld chains replaced, "
         "%ld appends, %ld slots set again (%ld under the module's name), %ld windows closed mid-run "
         "(%ld mid-drop), %ld FreeLibrary calls mid-run (%ld mid-drop); %ld fleet hops, %ld crowded runs "
         "(%ld give-backs there to an aircraft that may have lost its saves); %ld reopened dialogs, %ld idle dialogs "
         "destroyed (%ld beside a running drop), %ld folder moves\n",
         sequences, steps, static_cast<unsigned long long>(base), s.steps, s.loads, s.ticks, s.hiddenTicks,
         s.programmed, s.dropEnds, s.restores, s.restoresAfterReturn, s.gateOpens, s.midDropChoices, s.reused,
         s.replaced, s.appended, s.changed, s.changedUnderOurName, s.closes, s.closesMidDrop, s.freeLibraries,
         s.freeLibrariesMidDrop, s.fleetHops, s.crowdedRuns, s.mayBeLost, s.reopens, s.idleDestroyed,
         s.idleDestroyedBesideADrop, s.folderMoves);
}

}  // namespace
