// kolvarine_bench: the real Kolvarine.dll in the stand-in simulator.
//
// Every speed figure is a ratio of two costs timed in the same run, in
// alternating rounds (A then B, B then A, ...), printed as the median of the
// per-round ratios with the lowest and highest round: under Wine on a shared
// machine absolute times drift, a baseline timed beside them drifts alike.
//
//   kolvarine_bench.exe [--rounds N]
//
// Expects Kolvarine.dll and empty_module.dll beside it. Exits 2 when a
// measurement could not be made; missed goals are only reported.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/heap_watch.h"
#include "resources/resource.h"
#include "simhost/sim_host.h"

namespace {

const int kIl76Entry = 6;   // position of "ИЛ-76" in the configuration list
const int kIl76Steps = 62;  // 124 paratroopers, two per tick
const char kIl76Text[] = "ИЛ-76";
const char kIl76Section[] = "il76";
const double kDoorX = 5.0;  // position_x below; the second door mirrors it
const char kConfig[] =
    "[General]\r\nrealism=1\r\nvisual_view=0\r\n\r\n"
    "[il76]\r\neffect_name=fx_paratrooper\r\nposition_x=5\r\nposition_y=0\r\nposition_z=-35\r\n";
// The file and keys a drop tick reads, spelt as the module spells them.
const char kConfigFile[] = "Modules/Kolvarine.cfg";
const char* const kTickKeys[] = {"effect_name", "position_x", "position_y", "position_z"};
const int kTickKeyCount = 4;
const int kProfileValueSize = 260;

// Operations per timed batch: each batch takes a few milliseconds, long
// against the clock and short against the machine's slow spells.
const int kMessagesPerBatch = 50000;
const int kPaintsPerBatch = 40;
const int kQuietPaintsPerBatch = 20000;
const int kTicksPerBatch = 15;
const int kLoadsPerBatch = 10;

int g_rounds = 41;
std::string g_modulePath;
std::string g_emptyPath;

std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  const std::string full(path, length);
  return full.substr(0, full.find_last_of("\\/") + 1);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A: first in even rounds, second in odd ones.
bool AFirst(int round) { return round % 2 == 0; }

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text.empty() ? "(none imported)" : text;
}

// --- The simulator and the module ------------------------------------------

WNDPROC WindowProcOf(HWND window) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)); }

void SetWindowProc(HWND window, WNDPROC proc) {
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
}

// A simulator folder with the module's configuration, the one FS98MAIN window
// and an aircraft with four effect slots.
SimAircraft* EnterSimulator() {
  SimReset();
  if (SimEnterTempFolder().empty()) Fail("cannot make a simulator folder");
  SimWriteConfig(kConfig);
  if (SimCreateMainWindow() == NULL) Fail("no main window: is there a display?");
  SimAircraft* aircraft = SimAddAircraft(4);
  SimSetCurrentAircraft(aircraft);
  return aircraft;
}

void LeaveSimulator() {
  if (SimLoadedModule()) SimUnloadModule();
  SimDestroyMainWindow();
  SimLeaveTempFolder();
  SimReset();
}

// The module hooks the first FS98MAIN window it finds; on a Wine desktop
// shared with another run that may not be ours.
void ExpectHooked(HWND window, WNDPROC before) {
  if (WindowProcOf(window) == before)
    Fail("Kolvarine.dll did not hook the main window (another FS98MAIN window on this Wine desktop?)");
}

HMODULE LoadIntoSimulator() {
  const WNDPROC before = WindowProcOf(SimMainWindow());
  HMODULE module = SimLoadModule(g_modulePath.c_str());
  if (module == NULL) Fail("cannot load %s (error %lu)", g_modulePath.c_str(), GetLastError());
  ExpectHooked(SimMainWindow(), before);
  return module;
}

// Frame paint, menu command, visualisation on: as a pilot opens the dialog.
HWND OpenDialogWithVisualisation() {
  SimFramePaint();
  SimMenuCommand(IDM_DROP_COMMAND);
  SimPumpMessages();  // the box's check state arrives as a posted message
  HWND dialog = SimVisibleDialog();
  if (dialog == NULL) Fail("the menu command opened no dialog");
  SimToggleBox(dialog, IDC_VISUAL_BOX);
  if (!SimBoxChecked(dialog, IDC_VISUAL_BOX)) Fail("the visualisation box is not checked");
  return dialog;
}

void StartIl76Drop(HWND dialog) {
  SimChooseEntry(dialog, kIl76Entry);
  SimPress(dialog, IDC_LOAD_BUTTON);
  SimPress(dialog, IDC_DROP_BUTTON);
  SimPumpMessages();
  if (SimFindTimer(dialog, IDT_DROP_TIMER) == NULL) Fail("the ИЛ-76 drop did not start");
}

// Both doors programmed from the il76 section, as only a visualised tick does.
bool DoorsProgrammed(const SimAircraft* aircraft) {
  return aircraft->slots[0]->x == kDoorX && aircraft->slots[1]->x == -kDoorX &&
         strcmp(aircraft->slots[0]->name, "fx_paratrooper") == 0;
}

// --- Heap allocations ----------------------------------------------------

void MeasureAllocations() {
  Progress("heap allocation calls of the module during a whole ИЛ-76 drop");
  SimAircraft* aircraft = EnterSimulator();
  HMODULE module = LoadIntoSimulator();
  const std::vector<std::string> wrapped = WrapAllocationImports(module);
  ResetAllocationCallCounts();

  HWND dialog = OpenDialogWithVisualisation();
  StartIl76Drop(dialog);
  SimClearLog();
  int ticks = 0;
  bool programmed = false;
  while (SimFindTimer(dialog, IDT_DROP_TIMER) != NULL && ticks < 1000) {
    SimFireTimer(dialog, IDT_GATE_TIMER);  // the 250 ms gate runs between drop ticks
    SimFireTimer(dialog, IDT_DROP_TIMER);
    ++ticks;
    SimPumpMessages();
    if (DoorsProgrammed(aircraft)) programmed = true;
  }
  const AllocationCounts drop = AllocationCallCounts();
  const int steps = SimCount(kSimSetVariable);
  if (steps != kIl76Steps || ticks != kIl76Steps + 1)
    Fail("the ИЛ-76 drop took %d ticks, %d stepping (expected %d + 1)", ticks, steps, kIl76Steps);
  if (!programmed) Fail("no tick programmed the effect slots: visualisation did not run");
  for (int position = 1; position <= 4; ++position) {
    if (!SimSlotIsOriginal(aircraft, position)) Fail("slot %d not restored at the end of the drop", position);
  }

  ResetAllocationCallCounts();
  SimUnloadModule();
  const AllocationCounts unload = AllocationCallCounts();
  LeaveSimulator();

  AddRow("heap allocation calls by the module's code, whole ИЛ-76 drop", Format("%ld", drop.allocations), "0",
         drop.allocations == 0 ? kPass : kMiss);
  AddDetail("from right after LoadLibrary (imports wrapped) to the end: frame paint, menu command,");
  AddDetail(Format("visualisation on, ИЛ-76, load, drop, %d stepping ticks + 1 ending tick, a gate tick before each",
                   kIl76Steps));
  AddDetail("wrapped imports: " + Join(wrapped) + Format("; releases in that span: %ld", drop.releases));
  AddDetail(Format("not in the figure: unloading (detach, C runtime shut-down), allocation calls %ld, releases %ld;",
                   unload.allocations, unload.releases));
  AddDetail("nor what USER32/KERNEL32 allocate inside calls the module makes (menus, dialog, profile reads)");
}

// What LoadLibrary leaves in the heaps: the C runtime's start-up and the
// module's attach run inside it, before any import can be wrapped, so busy
// blocks are counted around it and set against the empty module's.
void MeasureStartupHeap() {
  Progress("heap blocks made inside LoadLibrary: Kolvarine.dll against empty_module.dll");
  EnterSimulator();
  HWND main = SimMainWindow();
  const WNDPROC simulatorProc = WindowProcOf(main);
  const std::string* paths[2] = {&g_modulePath, &g_emptyPath};
  for (int warm = 0; warm < 2; ++warm) {
    for (const std::string* path : paths) FreeLibrary(LoadLibraryA(path->c_str()));
  }
  std::vector<double> loadRuntime[2], loadRuntimeBytes[2], loadOther[2], leftRuntime[2], leftOther[2];
  for (int round = 0; round < g_rounds; ++round) {
    for (int pass = 0; pass < 2; ++pass) {
      const int which = AFirst(round) ? pass : 1 - pass;
      const HeapCensus before = TakeHeapCensus();
      HMODULE module = LoadLibraryA(paths[which]->c_str());
      const HeapCensus loaded = TakeHeapCensus();
      if (module == NULL) Fail("cannot load %s", paths[which]->c_str());
      if (which == 0) ExpectHooked(main, simulatorProc);
      FreeLibrary(module);
      const HeapCensus after = TakeHeapCensus();
      const HeapCensus added = CensusDifference(loaded, before);
      const HeapCensus left = CensusDifference(after, before);
      loadRuntime[which].push_back(static_cast<double>(added.runtimeHeap.blocks));
      loadRuntimeBytes[which].push_back(static_cast<double>(added.runtimeHeap.bytes));
      loadOther[which].push_back(static_cast<double>(added.otherHeaps.blocks));
      leftRuntime[which].push_back(static_cast<double>(left.runtimeHeap.blocks));
      leftOther[which].push_back(static_cast<double>(left.otherHeaps.blocks));
    }
  }
  LeaveSimulator();

  const double runtimeDifference = Median(loadRuntime[0]) - Median(loadRuntime[1]);
  const double otherDifference = Median(loadOther[0]) - Median(loadOther[1]);
  AddRow("C runtime start-up (not the module's code): heap blocks vs empty",
         Format("%+.0f blocks", runtimeDifference), "-", kInfo);
  AddDetail("busy blocks in msvcrt's heap right after LoadLibrary minus right before, medians:");
  AddDetail(Format("Kolvarine.dll %+.0f (%+.0f bytes), empty_module.dll %+.0f (%+.0f bytes); both run the same C runtime",
                   Median(loadRuntime[0]), Median(loadRuntimeBytes[0]), Median(loadRuntime[1]),
                   Median(loadRuntimeBytes[1])));
  AddDetail("start-up; Kolvarine.dll's attach (FindWindowA, SetWindowLongPtrA) runs inside it too");
  AddDetail(Format("other heaps (loader, USER32, Wine): Kolvarine.dll %+.0f blocks, empty %+.0f, difference %+.0f",
                   Median(loadOther[0]), Median(loadOther[1]), otherDifference));
  AddDetail(Format("left after FreeLibrary: Kolvarine.dll %+.0f in msvcrt's heap, %+.0f elsewhere; empty %+.0f, %+.0f",
                   Median(leftRuntime[0]), Median(leftOther[0]), Median(leftRuntime[1]), Median(leftOther[1])));
}

// --- The hooked main window ----------------------------------------------

WNDPROC g_simulatorProc;
WNDPROC g_relayNext;

// The simulator's window with its own frame painting left out, so that a
// hooked paint shows the hook's menu scan rather than DefWindowProcA's drawing.
LRESULT CALLBACK QuietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCPAINT) return 0;
  return CallWindowProcA(g_simulatorProc, window, message, wParam, lParam);
}

// A subclass that does nothing but pass on: the hop every hook costs.
LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(g_relayNext, window, message, wParam, lParam);
}

double TimeMessages(HWND window, int count) {
  const double start = Now();
  for (int i = 0; i < count; ++i) SendMessageA(window, WM_USER + 100, 0, 0);
  return (Now() - start) / count;
}

double TimePaints(HWND window, int count) {
  const double start = Now();
  for (int i = 0; i < count; ++i) SendMessageA(window, WM_NCPAINT, 1, 0);
  return (Now() - start) / count;
}

HMODULE HookWindow(HWND window) {
  const WNDPROC before = WindowProcOf(window);
  HMODULE module = LoadLibraryA(g_modulePath.c_str());
  if (module == NULL) Fail("cannot load %s", g_modulePath.c_str());
  ExpectHooked(window, before);
  return module;
}

void UnhookWindow(HWND window, HMODULE module, WNDPROC expected) {
  FreeLibrary(module);
  if (WindowProcOf(window) != expected) Fail("FreeLibrary did not give the main window back");
}

void MeasureWindow() {
  Progress("messages and frame paints through the hooked main window");
  EnterSimulator();
  HWND main = SimMainWindow();
  g_simulatorProc = WindowProcOf(main);

  // The first hooked paint adds the module's menu, and unloading takes it off
  // again. So that every timed paint draws the same bar, the bench puts an item
  // with the module's title there itself: the hook then finds its title and
  // adds nothing, and the unload leaves a menu it did not add alone.
  HMODULE module = HookWindow(main);
  SimFramePaint();
  SimPumpMessages();
  std::vector<std::string> titles = SimMenuBarTitles();
  if (titles.size() != 4 || titles.back() != "Зоркрыл") Fail("the module's menu was not added");
  UnhookWindow(main, module, g_simulatorProc);
  if (SimMenuBarTitles().size() != 3) Fail("unloading did not take the module's menu off the bar");
  HMENU standIn = CreateMenu();
  AppendMenuA(standIn, MF_STRING, 50001, "Десантирование");
  AppendMenuA(GetMenu(main), MF_POPUP, reinterpret_cast<UINT_PTR>(standIn), "Зоркрыл");

  RatioSamples messages, paints, quietPaints, relayMessages, relayQuietPaints;
  for (int round = 0; round < g_rounds; ++round) {
    double message[2] = {}, paint[2] = {}, quiet[2] = {};  // [1] hooked, [0] unhooked
    for (int pass = 0; pass < 2; ++pass) {
      const int hooked = AFirst(round) ? 1 - pass : pass;
      module = hooked ? HookWindow(main) : NULL;
      message[hooked] = TimeMessages(main, kMessagesPerBatch);
      paint[hooked] = TimePaints(main, kPaintsPerBatch);
      if (module) UnhookWindow(main, module, g_simulatorProc);

      SetWindowProc(main, QuietProc);
      module = hooked ? HookWindow(main) : NULL;
      quiet[hooked] = TimePaints(main, kQuietPaintsPerBatch);
      if (module) UnhookWindow(main, module, QuietProc);
      SetWindowProc(main, g_simulatorProc);
    }
    messages.Add(message[1], message[0]);
    paints.Add(paint[1], paint[0]);
    quietPaints.Add(quiet[1], quiet[0]);

    double relayMessage[2] = {}, relayQuiet[2] = {};  // [1] relayed, [0] plain
    for (int pass = 0; pass < 2; ++pass) {
      const int relayed = AFirst(round) ? 1 - pass : pass;
      g_relayNext = g_simulatorProc;
      if (relayed) SetWindowProc(main, RelayProc);
      relayMessage[relayed] = TimeMessages(main, kMessagesPerBatch);
      g_relayNext = QuietProc;
      SetWindowProc(main, relayed ? RelayProc : QuietProc);
      relayQuiet[relayed] = TimePaints(main, kQuietPaintsPerBatch);
      SetWindowProc(main, g_simulatorProc);
    }
    relayMessages.Add(relayMessage[1], relayMessage[0]);
    relayQuietPaints.Add(relayQuiet[1], relayQuiet[0]);
  }
  LeaveSimulator();

  const double messageRatio = messages.MedianRatio();
  AddRow("ordinary message, hooked / unhooked window", FormatRatio(messages), "<= 1.50",
         messageRatio <= 1.5 ? kPass : kMiss);
  AddDetail("SendMessageA(WM_USER+100) to FS98MAIN: " + Microseconds(messages.MedianA()) + " with Kolvarine.dll loaded, " +
            Microseconds(messages.MedianB()) + " after FreeLibrary");
  AddDetail("bound: a subclass that only calls CallWindowProcA, same measure: " + FormatRatio(relayMessages));

  AddRow("frame paint (menu present), hooked / unhooked, simulator paints", FormatRatio(paints), "-", kInfo);
  AddDetail("WM_NCPAINT, DefWindowProcA drawing frame and menu bar: " + Microseconds(paints.MedianA()) + " vs " +
            Microseconds(paints.MedianB()));

  AddRow("frame paint (menu present), hooked / unhooked, painting left out", FormatRatio(quietPaints), "-", kInfo);
  AddDetail("WM_NCPAINT to a window procedure that returns 0 for it: " + Microseconds(quietPaints.MedianA()) +
            " vs " + Microseconds(quietPaints.MedianB()) + "; a pass-on subclass alone: " +
            FormatRatio(relayQuietPaints));
  AddDetail("so the hook's menu scan (GetMenu, GetMenuItemCount, GetMenuStringA per item) costs about " +
            Microseconds(quietPaints.MedianA() - relayQuietPaints.MedianA()) + " per paint");
}

// --- One drop tick -------------------------------------------------------

char g_profileValues[kTickKeyCount][kProfileValueSize];

double TimeProfileReads(int ticks) {
  const double start = Now();
  for (int tick = 0; tick < ticks; ++tick) {
    for (int key = 0; key < kTickKeyCount; ++key) {
      GetPrivateProfileStringA(kIl76Section, kTickKeys[key], "", g_profileValues[key], kProfileValueSize,
                               kConfigFile);
    }
  }
  return (Now() - start) / ticks;
}

double TimeDropTicks(HWND dialog, int ticks) {
  const double start = Now();
  for (int tick = 0; tick < ticks; ++tick) SimFireTimer(dialog, IDT_DROP_TIMER);
  return (Now() - start) / ticks;
}

double TimeLabelUpdates(HWND dialog, int count, const char* const labels[2]) {
  const double start = Now();
  for (int i = 0; i < count; ++i) SetDlgItemTextA(dialog, IDC_COUNT_LABEL, labels[i % 2]);
  return (Now() - start) / count;
}

void MeasureDropTick() {
  Progress("drop ticks with visualisation against their four profile reads");
  SimAircraft* aircraft = EnterSimulator();
  LoadIntoSimulator();
  HWND dialog = OpenDialogWithVisualisation();
  const std::vector<std::string> entries = SimListEntries(dialog, IDC_CONFIG_LIST);
  if (static_cast<int>(entries.size()) <= kIl76Entry || entries[kIl76Entry] != kIl76Text)
    Fail("list entry %d is not ИЛ-76", kIl76Entry);
  StartIl76Drop(dialog);
  int remaining = kIl76Steps;

  TimeProfileReads(1);
  RatioSamples ticks;
  for (int round = 0; round < g_rounds; ++round) {
    if (remaining < kTicksPerBatch) {
      while (SimFindTimer(dialog, IDT_DROP_TIMER) != NULL) SimFireTimer(dialog, IDT_DROP_TIMER);
      StartIl76Drop(dialog);
      remaining = kIl76Steps;
    }
    SimPumpMessages();
    SimClearLog();
    double tick = 0.0, reads = 0.0;
    for (int pass = 0; pass < 2; ++pass) {
      if ((pass == 0) == AFirst(round)) {
        tick = TimeDropTicks(dialog, kTicksPerBatch);
      } else {
        reads = TimeProfileReads(kTicksPerBatch);
      }
    }
    remaining -= kTicksPerBatch;
    if (SimCount(kSimSetVariable) != kTicksPerBatch) Fail("a timed drop tick did not step");
    if (!DoorsProgrammed(aircraft)) Fail("timed drop ticks did not program the effect slots");
    ticks.Add(tick, reads);
  }

  // What the count label's repaint alone weighs against the same reads.
  char first[64], second[64];
  snprintf(first, sizeof(first), "Количество десантников: %d чел.", 100);
  snprintf(second, sizeof(second), "Количество десантников: %d чел.", 98);
  const char* const labels[2] = {first, second};
  RatioSamples labelUpdates;
  for (int round = 0; round < g_rounds; ++round) {
    double label = 0.0, reads = 0.0;
    for (int pass = 0; pass < 2; ++pass) {
      if ((pass == 0) == AFirst(round)) {
        label = TimeLabelUpdates(dialog, kTicksPerBatch, labels);
      } else {
        reads = TimeProfileReads(kTicksPerBatch);
      }
    }
    labelUpdates.Add(label, reads);
  }
  LeaveSimulator();

  const double ratio = ticks.MedianRatio();
  AddRow("drop tick with visualisation / its four profile reads", FormatRatio(ticks), "<= 1.45",
         ratio <= 1.45 ? kPass : kMiss);
  AddDetail("ИЛ-76 tick (SimFireTimer on timer 2, count > 0): " + Microseconds(ticks.MedianA()) +
            "; four GetPrivateProfileStringA of [il76] from the bench: " + Microseconds(ticks.MedianB()));
  AddDetail("bound: the count label's SetDlgItemTextA alone, same measure: " + FormatRatio(labelUpdates) +
            " (" + Microseconds(labelUpdates.MedianA()) + ")");
}

// --- Loading and unloading -------------------------------------------------

struct LoadTimes {
  double load;
  double unload;
};

// Each load is followed by a frame paint, as in the simulator, so the module
// has its menu on the bar and its unload takes it off.
LoadTimes TimeLoads(const std::string& path, int count) {
  LoadTimes times = {0.0, 0.0};
  for (int i = 0; i < count; ++i) {
    const double start = Now();
    HMODULE module = LoadLibraryA(path.c_str());
    const double loaded = Now();
    if (module == NULL) Fail("cannot load %s", path.c_str());
    SimFramePaint();
    const double unloading = Now();
    FreeLibrary(module);
    times.unload += Now() - unloading;
    times.load += loaded - start;
  }
  times.load /= count;
  times.unload /= count;
  return times;
}

BOOL CALLBACK SkipWindow(HWND, LPARAM) { return TRUE; }

// The system calls the module's attach and detach make, done by the bench.
double TimeAttachCalls(HWND main, int count) {
  const double start = Now();
  for (int i = 0; i < count; ++i) {
    HWND found = FindWindowA("FS98MAIN", NULL);
    LONG_PTR previous = SetWindowLongPtrA(found, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RelayProc));
    EnumThreadWindows(GetCurrentThreadId(), SkipWindow, 0);
    if (GetWindowLongPtrA(found, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(RelayProc))
      SetWindowLongPtrA(found, GWLP_WNDPROC, previous);
  }
  if (WindowProcOf(main) != g_simulatorProc) Fail("the window procedure was not given back");
  return (Now() - start) / count;
}

void MeasureLoading() {
  Progress("LoadLibrary and FreeLibrary, each timed apart: Kolvarine.dll against empty_module.dll");
  EnterSimulator();
  HWND main = SimMainWindow();
  g_simulatorProc = WindowProcOf(main);
  g_relayNext = g_simulatorProc;
  FreeLibrary(HookWindow(main));  // hooks our window, not another run's
  TimeLoads(g_modulePath, 2);
  TimeLoads(g_emptyPath, 2);

  RatioSamples loads, unloads, attachCalls;
  for (int round = 0; round < g_rounds; ++round) {
    LoadTimes module = {0.0, 0.0}, empty = {0.0, 0.0};
    double calls = 0.0;
    for (int pass = 0; pass < 2; ++pass) {
      if ((pass == 0) == AFirst(round)) {
        module = TimeLoads(g_modulePath, kLoadsPerBatch);
      } else {
        empty = TimeLoads(g_emptyPath, kLoadsPerBatch);
        calls = TimeAttachCalls(main, kLoadsPerBatch);
      }
    }
    loads.Add(module.load, empty.load);
    unloads.Add(module.unload, empty.unload);
    attachCalls.Add(calls, empty.load + empty.unload);
  }
  LeaveSimulator();

  const double ratio = loads.MedianRatio();
  AddRow("LoadLibrary, Kolvarine.dll / empty_module.dll", FormatRatio(loads), "<= 1.20",
         ratio <= 1.2 ? kPass : kMiss);
  AddDetail("with the FS98MAIN window present (attach finds and hooks it): " + Microseconds(loads.MedianA()) +
            " vs " + Microseconds(loads.MedianB()));
  AddRow("FreeLibrary after a frame paint, Kolvarine.dll / empty_module.dll", FormatRatio(unloads), "-", kInfo);
  AddDetail("once per simulator session; detach gives the window back and takes the menu off the bar: " +
            Microseconds(unloads.MedianA()) + " vs " + Microseconds(unloads.MedianB()));
  AddDetail("bound: attach's and detach's own system calls (FindWindowA, 2x SetWindowLongPtrA, EnumThreadWindows)");
  AddDetail("done by the bench: " + Microseconds(attachCalls.MedianA()) + ", " +
            Format("%.2f", attachCalls.MedianRatio()) + " of an empty load");
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      g_rounds = atoi(argv[++i]);
    } else {
      fprintf(stderr, "usage: kolvarine_bench.exe [--rounds N]\n");
      return 2;
    }
  }
  if (g_rounds < 1) g_rounds = 1;
  const std::string folder = ProgramFolder();
  g_modulePath = folder + "Kolvarine.dll";
  g_emptyPath = folder + "empty_module.dll";
  if (!FileExists(g_modulePath) || !FileExists(g_emptyPath)) Fail("Kolvarine.dll or empty_module.dll missing in %s", folder.c_str());

  const double started = Now();
  MeasureAllocations();
  MeasureStartupHeap();
  MeasureWindow();
  MeasureDropTick();
  MeasureLoading();

  const char* build = sizeof(void*) == 8 ? "x64" : "i686";
  const std::string title = Format("Kolvarine.dll (%s) in the stand-in simulator: %d rounds per figure in %.0f s; "
                                   "ratios are median [lowest-highest round]",
                                   build, g_rounds, Now() - started);
  PrintTable(title.c_str());
  return 0;
}
