// Random pilots: the actions. What a run draws from its seed, as plain data
// that replays exactly, how each prints, and the shrinker that cuts a failing
// run down to the fewest steps that still fail.
#include <stdio.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/random_pilot.h"

namespace random_pilot {

// A replay costs as much as a run: the shrinker stops after this many.
const int kShrinkReplays = 600;

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

static std::string RandomCountText(Rng& rng) {
  static const char* const texts[] = {"0", "1", "2", "3", "7", "16", "-1", "-3", "+5", " 12", "0.7", "1.5", "12abc",
                                      "abc", "", "пять", "2147483647", "2147483648", "99999999999", "-99999999999",
                                      "-0", "00000000000000000000042"};
  return rng.OneIn(3) ? std::to_string(rng.Below(300)) : rng.Pick(texts);
}

static std::string RandomIntervalText(Rng& rng) {
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
      {kReopen, visible ? 1 : 0},
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
      {kAppendSlots, Current().sim->slotCount + 2 <= kLongestPilotChain ? 1 : 0},
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

// --- Shrinking -----------------------------------------------------------------

// Removes chunks of steps, halving the chunk down to single steps, then cuts
// repeated presses and ticks to one, as long as the replay still breaks the
// same invariant.
static bool StillFails(Pilot& pilot, Sequence* candidate, const std::string& tag, int* replays) {
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

}  // namespace random_pilot
