// Random pilots: long seeded runs of what a pilot and the simulator can do to
// the real Kolvarine.dll, every step checked against a small model of what the
// module must show, write and leave in the aircraft. A failing run is shrunk to
// the fewest steps that still fail and printed one action per line.
//
// random_pilot_model.cpp   what the module must do, and how each action changes the model
// random_pilot_actions.cpp the actions a run draws, and the shrinker
// random_pilot_checks.cpp  what every step checks against the model
// random_pilot_test.cpp    the test: runs, replays and the batches of child processes
#pragma once

#include <windows.h>

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "tests/expected_texts.h"
#include "tests/fixtures.h"

namespace random_pilot {

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
const unsigned long kProgrammedEvent = 0x10201;
const unsigned long kRefreshEvent = 0x10202;
const int kManaged = 4;
// The module keeps the own values of 16 slots: a fifth aircraft shown with
// jumpers while four others hold theirs makes it drop some of those. It
// refuses the current aircraft a save only when all 16 lie in the current
// chain beside an unsaved slot, which takes 17 slots or more; chains here stay
// at 16 (the emitter give-back stories play longer ones).
const int kSaves = 16;
// The longest chain the pilots build; the module walks up to 256 slots.
const int kLongestPilotChain = 16;
const int kFleetSize = 6;
const UINT kLongestPeriod = 0x7FFFFFFF;

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
  std::string Text() const;
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

// The model's own helpers (random_pilot_model.cpp).
AircraftModel NewAircraftModel(SimAircraft* sim);
// The simulator's bar rebuilt without the module's menu, as after a change of
// its own menus.
void DropModuleMenu();

// Actions as printed, and what a run draws (random_pilot_actions.cpp).
std::string Quoted(const std::string& text);
std::string Describe(const Action& action);
std::string Listing(const Sequence& sequence, size_t steps);
Config RandomConfig(Rng& rng);
// The shortest sequence found that still breaks invariant `tag`.
Sequence Shrink(Pilot& pilot, Sequence failing, const std::string& tag, int* replays);

}  // namespace random_pilot
