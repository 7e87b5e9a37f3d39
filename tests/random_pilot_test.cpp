// Random pilots: the test. Plays seeded runs, each from a freshly loaded
// module, replays and shrinks a failing one, and plays a long series in
// batches, each by a child process of its own.
//
//   KOLVARINE_RANDOM_SEQUENCES  runs to play
//   KOLVARINE_RANDOM_STEPS      actions per run
//   KOLVARINE_RANDOM_SEED       seed of the first run; run i plays seed + i
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/random_pilot.h"

using namespace random_pilot;

namespace {

// Fixed, so CI replays the same runs. Each run loads the module and opens its
// dialogs afresh, which costs tens of milliseconds under Wine, so the default
// keeps the suite short; 32-bit runs are fewer still, as some machines emulate
// that code at a twentieth of the speed.
const uint64_t kBaseSeed = 0x4B6F6C7661726E31ull;
const int kDefaultSequences = sizeof(void*) == 4 ? 16 : 100;
const int kDefaultSteps = 60;

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

}  // namespace

namespace random_pilot {

// Each run has a simulator window of its own: a module stays in the process
// after FreeLibrary, hooked to the window it found when it attached.
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

// Every run ends with the simulator going away: its window closes, then it
// calls FreeLibrary, unless the run did either already.
void Pilot::Finish() {
  if (!outcome_.failed && !m_.closed) {
    Action close;
    close.kind = kCloseWindow;
    Perform(close);
  }
  if (!outcome_.failed && !m_.freedAfterClose) {
    Action freeLibrary;
    freeLibrary.kind = kFreeLibrary;
    Perform(freeLibrary);
  }
  SimDestroyMainWindow();  // after a failure, for the next run
  if (!outcome_.failed && !SimTimers().empty()) Fail("close", "timers outlived the simulator's window");
}

}  // namespace random_pilot

namespace {

std::string Where(const Outcome& outcome, const Sequence& sequence) {
  return outcome.step < sequence.actions.size() ? "at step " + std::to_string(outcome.step + 1) : "as the simulator went away";
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
