// kolvarine_bench: the real Kolvarine.dll in the stand-in simulator.
//
// Every speed figure is a ratio of two costs timed in the same run, in
// alternating rounds (A then B, B then A, ...), printed as the median of the
// per-round ratios with the lowest and highest round: under Wine on a shared
// machine absolute times drift, a baseline timed beside them drifts alike.
//
// Kolvarine.dll pins itself in the process once it hooks the FS98MAIN window,
// so a second LoadLibrary of the same file would find it loaded and run no
// attach: every load here is of a fresh copy of the file, and every copy of
// Kolvarine.dll gets a fresh window of its own to hook, since the one it
// hooked keeps its hook for good.
//
//   kolvarine_bench.exe [--rounds N] [--untimed]
//       (--untimed: only what no clock measures, the heap figures, for a
//        route where 32-bit code is emulated and times say nothing)
//   kolvarine_bench.exe --load-each kolvarine-first|empty-first
//       (half a round of the loading figures, in a process of its own: the
//        bench runs itself so)
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
#include "bench/job_thread.h"
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
// The configuration as the simulator's folder holds it, and the keys a drop
// tick reads.
const char kConfigFile[] = "Modules\\Kolvarine.cfg";
const char* const kTickKeys[] = {"effect_name", "position_x", "position_y", "position_z"};
const int kTickKeyCount = 4;
const int kProfileValueSize = 260;

// Operations per timed batch: each batch takes a few milliseconds, long
// against the clock and short against the machine's slow spells.
const int kMessagesPerBatch = 50000;
const int kPaintsPerBatch = 40;
const int kQuietPaintsPerBatch = 20000;
const int kTicksPerBatch = 15;
const int kQueuedKeysPerBatch = 200;
const int kAttachCallsPerProcess = 10;
// Loads are timed in processes of their own; one that takes this long hangs.
const DWORD kLoadProcessLimitMs = 60000;

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

// Copied before any clock starts or census is taken. The copies stay on disk
// while the process runs (Windows will not delete a mapped image, and every
// Kolvarine.dll copy stays mapped); a later process sweeps them.
std::string FreshCopy(const std::string& path) {
  const std::string copy = SimFreshModuleCopy(path.c_str());
  if (copy.empty()) Fail("cannot copy %s (error %lu)", path.c_str(), GetLastError());
  return copy;
}

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
  if (SimLoadedModule()) SimFreeLibrary();
  SimDestroyMainWindow();
  SimLeaveTempFolder();
  SimReset();
}

// The module hooks the first FS98MAIN window of its own process; a window
// this process made for another run would be taken instead.
void ExpectHooked(HWND window, WNDPROC before) {
  if (WindowProcOf(window) == before)
    Fail("Kolvarine.dll did not hook the main window (another FS98MAIN window of this process?)");
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
  SimMenuCommand(kMenuCommandId);
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
  if (SimFindTimer(dialog, kDropTimerId) == NULL) Fail("the ИЛ-76 drop did not start");
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
  while (SimFindTimer(dialog, kDropTimerId) != NULL && ticks < 1000) {
    SimFireTimer(dialog, kGateTimerId);  // the 250 ms gate runs between drop ticks
    SimFireTimer(dialog, kDropTimerId);
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

  // The module is pinned: FreeLibrary runs none of its code, which the counts
  // after it show.
  ResetAllocationCallCounts();
  SimFreeLibrary();
  const AllocationCounts afterFreeLibrary = AllocationCallCounts();
  if (!SimModuleResident(module)) Fail("FreeLibrary unloaded Kolvarine.dll, which had hooked the main window");
  LeaveSimulator();

  AddRow("heap allocation calls by the module's code, whole ИЛ-76 drop", Format("%ld", drop.allocations), "0",
         drop.allocations == 0 ? kPass : kMiss);
  AddDetail("from right after LoadLibrary (imports wrapped) to the end: frame paint, menu command,");
  AddDetail(Format("visualisation on, ИЛ-76, load, drop, %d stepping ticks + 1 ending tick, a gate tick before each",
                   kIl76Steps));
  AddDetail("wrapped imports: " + Join(wrapped) + Format("; releases in that span: %ld", drop.releases));
  AddDetail("then FreeLibrary, which leaves the module loaded (no detach, no C runtime shut-down): allocation");
  AddDetail(Format("calls %ld, releases %ld; not in the figure: what USER32/KERNEL32 allocate inside calls the module",
                   afterFreeLibrary.allocations, afterFreeLibrary.releases));
  AddDetail("makes (menus, dialog, profile reads)");
}

// What LoadLibrary leaves in the heaps: the C runtime's start-up and the
// module's attach run inside it, before any import can be wrapped, so busy
// blocks are counted around it and set against the empty module's.
struct LoadCensus {
  HeapCensus added;  // right after LoadLibrary minus right before
  HeapCensus left;   // right after FreeLibrary minus right before LoadLibrary
};

// A fresh copy loaded into a fresh main window, for either DLL, so both loads
// find the same scene; window and copy are made before the first census.
LoadCensus CensusLoad(const std::string& path, bool hooks) {
  HWND main = SimCreateMainWindow();
  if (main == NULL) Fail("no main window: is there a display?");
  const WNDPROC simulatorProc = WindowProcOf(main);
  const std::string copy = FreshCopy(path);
  const HeapCensus before = TakeHeapCensus();
  HMODULE module = LoadLibraryA(copy.c_str());
  const HeapCensus loaded = TakeHeapCensus();
  if (module == NULL) Fail("cannot load %s (error %lu)", copy.c_str(), GetLastError());
  if (hooks) ExpectHooked(main, simulatorProc);
  FreeLibrary(module);
  const HeapCensus after = TakeHeapCensus();
  if (SimModuleResident(module) != hooks)
    Fail(hooks ? "FreeLibrary unloaded Kolvarine.dll, which had hooked the main window"
               : "empty_module.dll stayed loaded after FreeLibrary");
  LoadCensus census = {CensusDifference(loaded, before), CensusDifference(after, before)};
  return census;
}

void MeasureStartupHeap() {
  Progress("heap blocks made inside LoadLibrary: Kolvarine.dll against empty_module.dll");
  EnterSimulator();
  const std::string* paths[2] = {&g_modulePath, &g_emptyPath};
  for (int warm = 0; warm < 2; ++warm) {
    for (int which = 0; which < 2; ++which) CensusLoad(*paths[which], which == 0);
  }
  std::vector<double> loadRuntime[2], loadRuntimeBytes[2], loadOther[2], leftRuntime[2], leftOther[2];
  for (int round = 0; round < g_rounds; ++round) {
    for (int pass = 0; pass < 2; ++pass) {
      const int which = AFirst(round) ? pass : 1 - pass;
      const LoadCensus census = CensusLoad(*paths[which], which == 0);
      loadRuntime[which].push_back(static_cast<double>(census.added.runtimeHeap.blocks));
      loadRuntimeBytes[which].push_back(static_cast<double>(census.added.runtimeHeap.bytes));
      loadOther[which].push_back(static_cast<double>(census.added.otherHeaps.blocks));
      leftRuntime[which].push_back(static_cast<double>(census.left.runtimeHeap.blocks));
      leftOther[which].push_back(static_cast<double>(census.left.otherHeaps.blocks));
    }
  }
  LeaveSimulator();

  const double runtimeDifference = Median(loadRuntime[0]) - Median(loadRuntime[1]);
  const double otherDifference = Median(loadOther[0]) - Median(loadOther[1]);
  AddRow("C runtime start-up (not the module's code): heap blocks vs empty",
         Format("%+.0f blocks", runtimeDifference), "-", kInfo);
  AddDetail("busy blocks in msvcrt's heap right after LoadLibrary minus right before, medians, fresh copies:");
  AddDetail(Format("Kolvarine.dll %+.0f (%+.0f bytes), empty_module.dll %+.0f (%+.0f bytes); both run the same C runtime",
                   Median(loadRuntime[0]), Median(loadRuntimeBytes[0]), Median(loadRuntime[1]),
                   Median(loadRuntimeBytes[1])));
  AddDetail("start-up; Kolvarine.dll's attach (the configuration's full path, its own FS98MAIN window, the pin, the hook) "
            "runs inside it too");
  AddDetail(Format("other heaps (loader, USER32, Wine): Kolvarine.dll %+.0f blocks, empty %+.0f, difference %+.0f",
                   Median(loadOther[0]), Median(loadOther[1]), otherDifference));
  AddDetail(Format("left after FreeLibrary: Kolvarine.dll, which stays loaded, %+.0f in msvcrt's heap, %+.0f elsewhere;",
                   Median(leftRuntime[0]), Median(leftOther[0])));
  AddDetail(Format("empty_module.dll, unloaded, %+.0f and %+.0f", Median(leftRuntime[1]), Median(leftOther[1])));
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

// Loads a fresh copy of Kolvarine.dll, which hooks `window`, the only FS98MAIN
// window there is; returns the procedure it put in front: the module's hook.
WNDPROC HookWindow(HWND window) {
  const WNDPROC before = WindowProcOf(window);
  const std::string copy = FreshCopy(g_modulePath);
  if (LoadLibraryA(copy.c_str()) == NULL) Fail("cannot load %s (error %lu)", copy.c_str(), GetLastError());
  ExpectHooked(window, before);
  return WindowProcOf(window);
}

// The first hooked paint puts the module's menu on the bar, where it stays:
// from then on every timed paint, hooked or not, draws the same bar.
void ExpectModuleMenu() {
  SimFramePaint();
  SimPumpMessages();
  const std::vector<std::string> titles = SimMenuBarTitles();
  if (titles.size() != 4 || titles.back() != "Зоркрыл") Fail("the module's menu was not added");
}

// The module never takes its hook off again, so the bench does: hooked means
// the module's procedure in front, as attach left it; unhooked means the
// procedure behind it put back in its place, the state of a window the module
// never hooked. Each of the two modules below gets a window of its own, as the
// first module stays hooked to the window it found.
void MeasureWindow() {
  Progress("messages and frame paints through the hooked main window");
  EnterSimulator();
  HWND main = SimMainWindow();
  g_simulatorProc = WindowProcOf(main);
  const WNDPROC hook = HookWindow(main);
  ExpectModuleMenu();

  RatioSamples messages, paints, relayMessages;
  for (int round = 0; round < g_rounds; ++round) {
    double message[2] = {}, paint[2] = {};  // [1] hooked, [0] unhooked
    for (int pass = 0; pass < 2; ++pass) {
      const int hooked = AFirst(round) ? 1 - pass : pass;
      SetWindowProc(main, hooked ? hook : g_simulatorProc);
      message[hooked] = TimeMessages(main, kMessagesPerBatch);
      paint[hooked] = TimePaints(main, kPaintsPerBatch);
    }
    messages.Add(message[1], message[0]);
    paints.Add(paint[1], paint[0]);

    double relayMessage[2] = {};  // [1] relayed, [0] plain
    for (int pass = 0; pass < 2; ++pass) {
      const int relayed = AFirst(round) ? 1 - pass : pass;
      g_relayNext = g_simulatorProc;
      SetWindowProc(main, relayed ? RelayProc : g_simulatorProc);
      relayMessage[relayed] = TimeMessages(main, kMessagesPerBatch);
    }
    relayMessages.Add(relayMessage[1], relayMessage[0]);
  }
  SetWindowProc(main, hook);

  // The second module hooks a window whose own frame painting is left out.
  main = SimCreateMainWindow();
  if (main == NULL) Fail("no main window: is there a display?");
  g_simulatorProc = WindowProcOf(main);
  SetWindowProc(main, QuietProc);
  const WNDPROC quietHook = HookWindow(main);
  ExpectModuleMenu();

  RatioSamples quietPaints, relayQuietPaints;
  for (int round = 0; round < g_rounds; ++round) {
    double quiet[2] = {};  // [1] hooked, [0] unhooked
    for (int pass = 0; pass < 2; ++pass) {
      const int hooked = AFirst(round) ? 1 - pass : pass;
      SetWindowProc(main, hooked ? quietHook : QuietProc);
      quiet[hooked] = TimePaints(main, kQuietPaintsPerBatch);
    }
    quietPaints.Add(quiet[1], quiet[0]);

    double relayQuiet[2] = {};  // [1] relayed, [0] plain
    for (int pass = 0; pass < 2; ++pass) {
      const int relayed = AFirst(round) ? 1 - pass : pass;
      g_relayNext = QuietProc;
      SetWindowProc(main, relayed ? RelayProc : QuietProc);
      relayQuiet[relayed] = TimePaints(main, kQuietPaintsPerBatch);
    }
    relayQuietPaints.Add(relayQuiet[1], relayQuiet[0]);
  }
  SetWindowProc(main, quietHook);
  LeaveSimulator();

  const double messageRatio = messages.MedianRatio();
  AddRow("ordinary message, hooked / unhooked window", FormatRatio(messages), "<= 1.50",
         messageRatio <= 1.5 ? kPass : kMiss);
  AddDetail("SendMessageA(WM_USER+100) to FS98MAIN: " + Microseconds(messages.MedianA()) +
            " through the module's hook, " + Microseconds(messages.MedianB()) +
            " with the simulator's procedure put back in front");
  AddDetail("bound: a subclass that only calls CallWindowProcA, same measure: " + FormatRatio(relayMessages));

  AddRow("frame paint (menu present), hooked / unhooked, simulator paints", FormatRatio(paints), "-", kInfo);
  AddDetail("WM_NCPAINT, DefWindowProcA drawing frame and menu bar: " + Microseconds(paints.MedianA()) + " vs " +
            Microseconds(paints.MedianB()));

  AddRow("frame paint (menu present), hooked / unhooked, painting left out", FormatRatio(quietPaints), "-", kInfo);
  AddDetail("WM_NCPAINT to a window procedure that returns 0 for it: " + Microseconds(quietPaints.MedianA()) +
            " vs " + Microseconds(quietPaints.MedianB()) + "; a pass-on subclass alone: " +
            FormatRatio(relayQuietPaints));
  AddDetail("so the hook's menu scan (GetMenu, the title in UTF-16; GetMenuItemCount, GetMenuStringW per item) costs about " +
            Microseconds(quietPaints.MedianA() - relayQuietPaints.MedianA()) + " per paint");
}

// --- The simulator's message loop under the module's message hook --------
//
// When it makes its first control dialog the module hooks WH_GETMESSAGE on
// that thread, the simulator's user-interface thread, to hand keys aimed at
// the dialog to IsDialogMessageA, and never unhooks. The bench catches that
// SetWindowsHookExA through the module's imports and then does what the module
// does not: hooked means the module's procedure hooked on the thread as the
// module hooked it, unhooked means no hook, the state of a thread the module
// never hooked; the same thread, window and queue on both sides. Under Wine
// two threads are no baseline for each other: the same loop on two threads
// with like windows ran up to 1.7 times apart, by which windows had last been
// activated.
//
// A thread of the bench's plays the simulator's, since every module copy the
// main thread has made a dialog for keeps its hook there. The message is the
// one that costs the hook most: a key, so it passes every test the hook makes
// (a keyboard message, the dialog visible, not aimed at the dialog), aimed at
// the simulator's window as flying keys are. The Up arrow makes no character,
// so TranslateMessage posts no WM_CHAR after it.
const LPARAM kUpKeyDown = 0x01480001;  // repeat 1, scan code 0x48, extended key
const LPARAM kTabKeyDown = 0x000F0001;  // repeat 1, scan code 0x0F

// The module's call, kept so the bench can take the hook off and put it back.
struct ModuleHook {
  int calls;
  int id;
  HOOKPROC proc;
  HINSTANCE instance;
  DWORD thread;
  HHOOK handle;
};
ModuleHook g_moduleHook;

HHOOK WINAPI CatchSetWindowsHookExA(int id, HOOKPROC proc, HINSTANCE instance, DWORD thread) {
  const HHOOK handle = SetWindowsHookExA(id, proc, instance, thread);
  ModuleHook call = {g_moduleHook.calls + 1, id, proc, instance, thread, handle};
  g_moduleHook = call;
  return handle;
}

// One frame of the simulator's loop per key: the key posted, the queue
// emptied. Seconds per key; `delivered` counts the keys that came out of
// PeekMessageA as they went in.
double TimeQueuedKeys(HWND window, int count, int* delivered) {
  MSG message;
  int keys = 0;
  const double start = Now();
  for (int i = 0; i < count; ++i) {
    PostMessageA(window, WM_KEYDOWN, VK_UP, kUpKeyDown);
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      if (message.message == WM_KEYDOWN && message.hwnd == window) ++keys;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  const double seconds = (Now() - start) / count;
  *delivered = keys;
  return seconds;
}

double TimeKeysChecked(HWND window) {
  int delivered = 0;
  const double seconds = TimeQueuedKeys(window, kQueuedKeysPerBatch, &delivered);
  if (delivered != kQueuedKeysPerBatch)
    Fail("%d of %d keys posted to FS98MAIN came out of PeekMessageA unchanged", delivered, kQueuedKeysPerBatch);
  return seconds;
}

// Whether a hook of this thread handed a Tab posted to the dialog to the
// dialog: PeekMessageA then gives it back as WM_NULL.
bool DialogKeysHooked(HWND dialog) {
  SimPumpMessages();
  PostMessageA(dialog, WM_KEYDOWN, VK_TAB, kTabKeyDown);
  MSG message;
  int seen = 0;
  bool hooked = false;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    if (message.hwnd == dialog && seen == 0 && (message.message == WM_NULL || message.message == WM_KEYDOWN)) {
      ++seen;
      hooked = message.message == WM_NULL;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (seen == 0) Fail("the Tab posted to the module's dialog never came out of PeekMessageA");
  return hooked;
}

// The hop every message hook costs.
LRESULT CALLBACK PassOnHook(int code, WPARAM wParam, LPARAM lParam) {
  return CallNextHookEx(NULL, code, wParam, lParam);
}

// Puts `proc` on this thread as a thread-local WH_GETMESSAGE hook, or takes
// off the one there is (proc null); `handle` is the one there is, or null.
void SetMessageHook(HOOKPROC proc, HHOOK* handle) {
  if (*handle != NULL) UnhookWindowsHookEx(*handle);
  *handle = NULL;
  if (proc == NULL) return;
  *handle = SetWindowsHookExA(WH_GETMESSAGE, proc, NULL, GetCurrentThreadId());
  if (*handle == NULL) Fail("cannot hook WH_GETMESSAGE (error %lu)", GetLastError());
}

int KeysSeenBySimulator() {
  int keys = 0;
  for (const SimWindowMessage& seen : SimMainWindowMessages()) {
    if (seen.message == WM_KEYDOWN && seen.wParam == VK_UP) ++keys;
  }
  return keys;
}

void MeasureMessageHook() {
  Progress("keys through the simulator's message loop, with and without the module's message hook");
  JobThread simulator;
  HWND main = NULL;
  WNDPROC simulatorProc = NULL, subclass = NULL;
  bool watched = false, tabHooked = false;
  g_moduleHook = ModuleHook();
  simulator.Run([&] {
    EnterSimulator();
    main = SimMainWindow();
    simulatorProc = WindowProcOf(main);
    HMODULE module = LoadIntoSimulator();
    subclass = WindowProcOf(main);
    watched = SimPatchImport(module, "user32.dll", "SetWindowsHookExA",
                             reinterpret_cast<void*>(&CatchSetWindowsHookExA), NULL);
    SimFramePaint();
    SimMenuCommand(kMenuCommandId);
    SimPumpMessages();
    HWND dialog = SimVisibleDialog();
    if (dialog == NULL) Fail("the menu command opened no dialog");
    tabHooked = DialogKeysHooked(dialog);
    if (tabHooked && g_moduleHook.calls == 0)
      Fail("a hook took the Tab aimed at the dialog, but the module made no SetWindowsHookExA call the bench saw");
    if (g_moduleHook.calls != 0 && (g_moduleHook.id != WH_GETMESSAGE || g_moduleHook.thread != GetCurrentThreadId() ||
                                    g_moduleHook.handle == NULL || g_moduleHook.calls != 1))
      Fail("the module's hooking is not one WH_GETMESSAGE hook of the thread that made its dialog "
           "(%d calls; last: hook %d, thread %lu of %lu, handle %p)",
           g_moduleHook.calls, g_moduleHook.id, g_moduleHook.thread, GetCurrentThreadId(),
           reinterpret_cast<void*>(g_moduleHook.handle));
    // Only the message hook is to differ between the sides, so the keys go
    // straight to the simulator's procedure: the subclass has a row of its own.
    SetWindowProc(main, simulatorProc);
    SimClearMainWindowMessages();
    int delivered = 0;
    TimeQueuedKeys(main, 10, &delivered);
    if (delivered != 10 || KeysSeenBySimulator() != 10)
      Fail("of 10 keys posted to FS98MAIN %d came out of PeekMessageA unchanged, %d reached its procedure", delivered,
           KeysSeenBySimulator());
    TimeKeysChecked(main);
  });

  // The module's hook is there, or nothing is, when each pass starts.
  HOOKPROC const moduleProc = g_moduleHook.proc;
  HHOOK hook = g_moduleHook.handle;
  RatioSamples keys, passOnKeys, beyondPassOn;
  for (int round = 0; round < g_rounds; ++round) {
    double key[2] = {}, passOn[2] = {};  // [1] hooked, [0] unhooked
    simulator.Run([&] {
      for (int pair = 0; pair < 2; ++pair) {
        const bool modules = (pair == 0) == AFirst(round);
        for (int pass = 0; pass < 2; ++pass) {
          const int hooked = AFirst(round) ? 1 - pass : pass;
          SetMessageHook(hooked ? (modules ? moduleProc : PassOnHook) : NULL, &hook);
          (modules ? key : passOn)[hooked] = TimeKeysChecked(main);
        }
      }
      SetMessageHook(moduleProc, &hook);
    });
    keys.Add(key[1], key[0]);
    passOnKeys.Add(passOn[1], passOn[0]);
    beyondPassOn.Add(key[1], passOn[1]);
  }
  simulator.Run([&] {
    SetWindowProc(main, subclass);
    LeaveSimulator();
  });

  AddRow("key in the simulator's message loop, hooked / unhooked thread", FormatRatio(keys), "-", kInfo);
  AddDetail("WM_KEYDOWN (Up arrow) posted to FS98MAIN, then PeekMessageA PM_REMOVE, TranslateMessage and");
  AddDetail("DispatchMessageA on the thread whose menu command made the module's dialog: " +
            Microseconds(keys.MedianA()) + " with the module's hook");
  AddDetail("on the thread, " + Microseconds(keys.MedianB()) +
            " with none; the module's subclass of FS98MAIN is left out (the ordinary message's row)");
  if (g_moduleHook.calls != 0) {
    AddDetail("the module hooked WH_GETMESSAGE on that thread as it made its dialog; a Tab posted to the dialog came");
    AddDetail(tabHooked ? "out of PeekMessageA as WM_NULL" : "out of PeekMessageA as it went in");
  } else {
    AddDetail(std::string("the module set no hook (") +
              (watched ? "it imports SetWindowsHookExA but made no call" : "it does not import SetWindowsHookExA") +
              "; a Tab posted to its dialog came");
    AddDetail("out as it went in): both sides are unhooked");
  }
  AddDetail("bound: a WH_GETMESSAGE hook that only calls CallNextHookEx, same measure: " + FormatRatio(passOnKeys) +
            " (" + Microseconds(passOnKeys.MedianA()) + ")");
  if (g_moduleHook.calls != 0)
    AddDetail("the module's hook against that one, same rounds: " + FormatRatio(beyondPassOn) +
              ", what its own tests add to the hop every hook costs");
}

// --- One drop tick -------------------------------------------------------

char g_profileValues[kTickKeyCount][kProfileValueSize];
std::string g_configPath;

// The module reads its configuration through the full path it resolves once
// at attach, the simulator's folder then; the reads a tick is set against use
// the same, since the profile functions take longer to find a relative path.
std::string ResolveConfigPath() {
  char path[MAX_PATH];
  const DWORD length = GetFullPathNameA(kConfigFile, MAX_PATH, path, NULL);
  if (length == 0 || length >= MAX_PATH) Fail("cannot resolve %s (error %lu)", kConfigFile, GetLastError());
  return std::string(path, length);
}

double TimeProfileReads(int ticks) {
  const double start = Now();
  for (int tick = 0; tick < ticks; ++tick) {
    for (int key = 0; key < kTickKeyCount; ++key) {
      GetPrivateProfileStringA(kIl76Section, kTickKeys[key], "", g_profileValues[key], kProfileValueSize,
                               g_configPath.c_str());
    }
  }
  return (Now() - start) / ticks;
}

double TimeDropTicks(HWND dialog, int ticks) {
  const double start = Now();
  for (int tick = 0; tick < ticks; ++tick) SimFireTimer(dialog, kDropTimerId);
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
  g_configPath = ResolveConfigPath();
  LoadIntoSimulator();
  HWND dialog = OpenDialogWithVisualisation();
  const std::vector<std::string> entries = SimListEntries(dialog, IDC_CONFIG_LIST);
  if (static_cast<int>(entries.size()) <= kIl76Entry || entries[kIl76Entry] != kIl76Text)
    Fail("list entry %d is not ИЛ-76", kIl76Entry);
  StartIl76Drop(dialog);
  int remaining = kIl76Steps;

  // Reads that found nothing would be cheaper than the module's.
  TimeProfileReads(1);
  if (strcmp(g_profileValues[0], "fx_paratrooper") != 0 || atof(g_profileValues[1]) != kDoorX)
    Fail("the bench's profile reads did not find [%s] in %s", kIl76Section, g_configPath.c_str());
  RatioSamples ticks;
  for (int round = 0; round < g_rounds; ++round) {
    if (remaining < kTicksPerBatch) {
      while (SimFindTimer(dialog, kDropTimerId) != NULL) SimFireTimer(dialog, kDropTimerId);
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
  AddDetail("the reads through the full path the module resolves at attach: the simulator's folder + \\" +
            std::string(kConfigFile));
  AddDetail("bound: the count label's SetDlgItemTextA alone, same measure: " + FormatRatio(labelUpdates) +
            " (" + Microseconds(labelUpdates.MedianA()) + ")");
}

// --- LoadLibrary and FreeLibrary --------------------------------------------
//
// Every copy of Kolvarine.dll loaded stays in the process, and Wine loads a
// DLL the more slowly the more copies of it (same header time stamp and
// checksum) are resident already: some 50 us, about 5% of a load, for each.
// A process that loaded hundreds would time a load no simulator makes, so the
// loads run in processes of their own, this program again with --load-each:
// each loads one fresh copy of each DLL, the only one of its kind there, and
// prints the times. Whichever DLL a process loads second loads a little faster,
// so a round is two processes, one of each order, and takes their means. That
// is two process starts per round, and a few copies on disk at a time (each
// process sweeps the copies of the ones that ended).

// Seconds in one process; [0] Kolvarine.dll, [1] empty_module.dll.
struct LoadTimes {
  double load[2];
  double freeLibrary[2];
  double attachCalls;
};

// A fresh copy loaded, a frame paint as in the simulator (the module puts its
// menu on the bar), then FreeLibrary; each call timed apart. Kolvarine.dll has
// pinned itself by then, so its FreeLibrary leaves everything as it is: the
// module in memory, the window hooked, the menu on the bar.
void TimeLoad(const std::string& copy, bool hooks, double* load, double* freeLibrary) {
  HWND main = SimMainWindow();
  const WNDPROC before = WindowProcOf(main);
  const double start = Now();
  HMODULE module = LoadLibraryA(copy.c_str());
  const double loaded = Now();
  if (module == NULL) Fail("cannot load %s (error %lu)", copy.c_str(), GetLastError());
  if (hooks) ExpectHooked(main, before);
  SimFramePaint();
  const WNDPROC hooked = WindowProcOf(main);
  const size_t menus = SimMenuBarTitles().size();
  const double freeing = Now();
  FreeLibrary(module);
  *freeLibrary = Now() - freeing;
  *load = loaded - start;
  if (!hooks) {
    if (SimModuleResident(module)) Fail("empty_module.dll stayed loaded after FreeLibrary");
    return;
  }
  if (!SimModuleResident(module)) Fail("FreeLibrary unloaded Kolvarine.dll, which had hooked the main window");
  if (WindowProcOf(main) != hooked) Fail("FreeLibrary took Kolvarine.dll's hook off the main window");
  if (menus != 4 || SimMenuBarTitles().size() != menus) Fail("the module's menu is not on the bar after FreeLibrary");
}

// Attach's own system calls, made by the bench as the module makes them: the
// configuration's full path (GetFullPathNameW, WideCharToMultiByte), the
// first FS98MAIN window of this process (FindWindowExA,
// GetWindowThreadProcessId), GetModuleHandleExA pinning (the bench's own
// image, which stays anyway) and SetWindowLongPtrA. Putting the procedure
// back, so that the next pass finds the same window, is not timed.
double TimeAttachCalls(HWND main, int count) {
  const WNDPROC current = WindowProcOf(main);
  g_relayNext = current;
  double total = 0.0;
  for (int i = 0; i < count; ++i) {
    const double start = Now();
    WCHAR wide[MAX_PATH];
    char path[MAX_PATH];
    GetFullPathNameW(L"Modules\\Kolvarine.cfg", MAX_PATH, wide, NULL);
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, MAX_PATH, NULL, &lossy);
    HWND found = NULL;
    for (HWND window = NULL; (window = FindWindowExA(NULL, window, "FS98MAIN", NULL)) != NULL;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == GetCurrentProcessId()) {
        found = window;
        break;
      }
    }
    HMODULE pinned = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&g_rounds), &pinned);
    SetWindowLongPtrA(found, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RelayProc));
    total += Now() - start;
    SetWindowProc(found, current);
  }
  if (WindowProcOf(main) != current) Fail("the window procedure was not given back");
  return total / count;
}

const char* const kLoadOrders[2] = {"kolvarine-first", "empty-first"};

// The process's side. Its first load pays for more than itself, so first one
// copy of each DLL is loaded and freed with no window about: Kolvarine.dll then
// hooks nothing, pins nothing and goes again.
void LoadEachOnce(bool moduleFirst) {
  const std::string paths[2] = {g_modulePath, g_emptyPath};
  const char* const names[2] = {"Kolvarine.dll", "empty_module.dll"};
  std::string copies[2];
  for (int which = 0; which < 2; ++which) {
    const std::string warm = FreshCopy(paths[which]);
    copies[which] = FreshCopy(paths[which]);
    HMODULE module = LoadLibraryA(warm.c_str());
    if (module == NULL) Fail("cannot load %s (error %lu)", warm.c_str(), GetLastError());
    FreeLibrary(module);
    if (SimModuleResident(module))
      Fail("%s stayed loaded before our window was made (another FS98MAIN window on this Wine desktop?)",
           names[which]);
  }
  if (SimCreateMainWindow() == NULL) Fail("no main window: is there a display?");
  LoadTimes times = {};
  for (int pass = 0; pass < 2; ++pass) {
    const int which = moduleFirst ? pass : 1 - pass;
    TimeLoad(copies[which], which == 0, &times.load[which], &times.freeLibrary[which]);
  }
  times.attachCalls = TimeAttachCalls(SimMainWindow(), kAttachCallsPerProcess);
  SimDestroyMainWindow();
  printf("load-each %.9g %.9g %.9g %.9g %.9g\n", times.load[0], times.load[1], times.freeLibrary[0], times.freeLibrary[1],
         times.attachCalls);
  fflush(stdout);
}

// The bench's side: runs LoadEachOnce in a process of its own and reads its
// times. A process that fails, or hangs, fails the run with what it printed.
LoadTimes RunLoadProcess(bool moduleFirst) {
  char program[MAX_PATH];
  GetModuleFileNameA(NULL, program, MAX_PATH);
  char command[MAX_PATH + 64];
  snprintf(command, sizeof(command), "\"%s\" --load-each %s", program, kLoadOrders[moduleFirst ? 0 : 1]);
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), NULL, TRUE};
  HANDLE readEnd = NULL, writeEnd = NULL;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) Fail("cannot make a pipe (error %lu)", GetLastError());
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
  CloseHandle(writeEnd);  // else the pipe never reports its end
  if (!started) Fail("cannot run %s (error %lu)", command, GetLastError());

  // Read while waiting: a full pipe would stall the child.
  std::string output;
  const DWORD begin = GetTickCount();
  bool ended = false;
  while (!ended) {
    ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
    char chunk[4096];
    DWORD available = 0, read = 0;
    while (PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL) && available > 0 &&
           ReadFile(readEnd, chunk, sizeof(chunk), &read, NULL) && read > 0) {
      output.append(chunk, read);
    }
    if (!ended && GetTickCount() - begin > kLoadProcessLimitMs) {
      TerminateProcess(process.hProcess, 3);
      WaitForSingleObject(process.hProcess, INFINITE);
      ended = true;
    }
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(readEnd);

  LoadTimes times = {};
  const size_t line = output.find("load-each ");
  if (status != 0 || line == std::string::npos ||
      sscanf(output.c_str() + line, "load-each %lf %lf %lf %lf %lf", &times.load[0], &times.load[1],
             &times.freeLibrary[0], &times.freeLibrary[1], &times.attachCalls) != 5) {
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.erase(output.size() - 1);
    Fail("%s ended with status %lu: %s", command, status, output.empty() ? "(printed nothing)" : output.c_str());
  }
  return times;
}

void MeasureLoading() {
  Progress("LoadLibrary and FreeLibrary of fresh copies, each timed apart, two processes a round: "
           "Kolvarine.dll against empty_module.dll");
  RatioSamples loads, freeLibraries, attachCalls;
  for (int round = 0; round < g_rounds; ++round) {
    LoadTimes order[2];  // [0] Kolvarine.dll loaded first, [1] the empty DLL first
    for (int pass = 0; pass < 2; ++pass) {
      const int first = AFirst(round) ? pass : 1 - pass;
      order[first] = RunLoadProcess(first == 0);
    }
    loads.Add((order[0].load[0] + order[1].load[0]) / 2, (order[0].load[1] + order[1].load[1]) / 2);
    freeLibraries.Add((order[0].freeLibrary[0] + order[1].freeLibrary[0]) / 2,
                      (order[0].freeLibrary[1] + order[1].freeLibrary[1]) / 2);
    attachCalls.Add((order[0].attachCalls + order[1].attachCalls) / 2, (order[0].load[1] + order[1].load[1]) / 2);
  }

  const double ratio = loads.MedianRatio();
  AddRow("LoadLibrary, Kolvarine.dll / empty_module.dll", FormatRatio(loads), "<= 1.20",
         ratio <= 1.2 ? kPass : kMiss);
  AddDetail("a fresh copy of each, copied before the clock starts, with the FS98MAIN window present (attach finds it,");
  AddDetail("pins the module and hooks the window): " + Microseconds(loads.MedianA()) + " vs " +
            Microseconds(loads.MedianB()) + "; a round: two processes, each DLL first in one");
  AddDetail("bound: attach's own system calls (the file's full path, the own FS98MAIN window, pinning, SetWindowLongPtrA) done by");
  AddDetail("the bench: " + Microseconds(attachCalls.MedianA()) + ", " + Format("%.2f", attachCalls.MedianRatio()) +
            " of an empty load");
  AddRow("FreeLibrary, Kolvarine.dll (stays loaded) / empty DLL (unloads)", FormatRatio(freeLibraries), "-", kInfo);
  AddDetail("after a frame paint; Kolvarine.dll pinned itself at attach, so FreeLibrary returns without unloading it");
  AddDetail("or running any of its code: module, hook and menu stay (checked after each), nothing is undone before");
  AddDetail("the process ends; empty_module.dll is unmapped: " + Microseconds(freeLibraries.MedianA()) + " vs " +
            Microseconds(freeLibraries.MedianB()));
}

}  // namespace

int main(int argc, char** argv) {
  const char* loadOrder = NULL;
  bool untimed = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      g_rounds = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--untimed") == 0) {
      untimed = true;
    } else if (strcmp(argv[i], "--load-each") == 0 && i + 1 < argc &&
               (strcmp(argv[i + 1], kLoadOrders[0]) == 0 || strcmp(argv[i + 1], kLoadOrders[1]) == 0)) {
      loadOrder = argv[++i];
    } else {
      fprintf(stderr, "usage: kolvarine_bench.exe [--rounds N] [--untimed]\n");
      return 2;
    }
  }
  if (g_rounds < 1) g_rounds = 1;
  const std::string folder = ProgramFolder();
  g_modulePath = folder + "Kolvarine.dll";
  g_emptyPath = folder + "empty_module.dll";
  if (!FileExists(g_modulePath) || !FileExists(g_emptyPath)) Fail("Kolvarine.dll or empty_module.dll missing in %s", folder.c_str());
  if (loadOrder != NULL) {
    LoadEachOnce(strcmp(loadOrder, kLoadOrders[0]) == 0);
    return 0;
  }

  const double started = Now();
  MeasureAllocations();
  MeasureStartupHeap();
  if (!untimed) {
    MeasureWindow();
    MeasureMessageHook();
    MeasureDropTick();
    MeasureLoading();
  }

  const char* build = sizeof(void*) == 8 ? "x64" : "i686";
  const std::string title =
      untimed ? Format("Kolvarine.dll (%s) in the stand-in simulator: untimed figures only, %d rounds in %.0f s",
                       build, g_rounds, Now() - started)
              : Format("Kolvarine.dll (%s) in the stand-in simulator: %d rounds per figure in %.0f s; "
                       "ratios are median [lowest-highest round]",
                       build, g_rounds, Now() - started);
  PrintTable(title.c_str());
  return 0;
}
