// The stand-in simulator: plays the flight simulator for the tests and the demo.
//
// It owns a main window of class "FS98MAIN" with a menu bar, the three service
// tables the simulator hands a module through its ImportTable, aircraft records
// with effect-slot chains, and a log of every call the module makes into it.
// It knows the module only as the simulator does: the exported records, the
// window messages and the records it hands out. Tests may also drive the
// module's code linked statically (then the module handle is the test program).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/simulator_records.h"
#include "resources/resource.h"

// ---------------------------------------------------------------------------
// Call log
enum SimOp {
  kSimLookupUnit,            // text = unit name; result in args[0]
  kSimReadAircraftVariable,  // args = variable, unit, index; value = result returned
  kSimFireEvent,             // args = event id, value
  kSimCurrentAircraft,       // pointer = record returned
  kSimGetVariableWriter,     // pointer = writer returned
  kSimShowText,              // text = message; args = the three numbers
  kSimSetVariable,           // pointer = writer object; args = first, second, third number; value = the double
  kSimSetTimer,              // pointer = window; args = id, period
  kSimKillTimer,             // pointer = window; args = id
  kSimCreateDialog,          // args = template id; pointer = owner window (only while creation is intercepted)
  kSimMessageBox,            // text = message; caption = caption; args = style; pointer = owner
  kSimOpCount
};

struct SimCall {
  SimOp op;
  unsigned long args[4];
  double value;
  const void* pointer;
  std::string text;
  std::string caption;
};

void SimClearLog();
const std::vector<SimCall>& SimLog();
int SimCount(SimOp op);
const SimCall* SimLast(SimOp op);  // null when there is none
const char* SimOpName(SimOp op);

// ---------------------------------------------------------------------------
// Aircraft. Every slot starts with distinct original values (position and a
// name owned by the simulator) so tests can tell "restored" from "programmed".
// Like a real allocator, the stand-in reuses freed slot blocks (last freed,
// first reused), and every name it hands out has an address of its own.
// Chains may be longer than the 256 slots the module walks.
const int kSimMaxSlots = 320;

struct SimAircraft {
  AircraftRecord* record;  // the record CurrentAircraft returns
  AircraftData* data;      // what record->data points at
  int slotCount;
  EffectSlot* slots[kSimMaxSlots];     // the chain, in order
  EffectSlot originals[kSimMaxSlots];  // each slot's own values, as the simulator last set them
  double variable87;                   // what ReadAircraftVariable(87, ...) returns for it
};

SimAircraft* SimAddAircraft(int slotCount, BYTE stateFlag = 1, double variable87 = 1.0);
void SimSetCurrentAircraft(SimAircraft* aircraft);  // null makes CurrentAircraft return null
SimAircraft* SimCurrentAircraft();
// True when slot `position` (1-based) holds exactly its original fields,
// including the untouched field at offset 28 and the next pointer.
bool SimSlotIsOriginal(const SimAircraft* aircraft, int position);

// The simulator at work on an aircraft's emitters:
// frees them all (the aircraft keeps no slots; the blocks go to be reused);
void SimFreeEmitters(SimAircraft* aircraft);
// gives the record a new chain of `slotCount` slots with new names and
// positions: in the freed blocks of the old one (same addresses), or in other
// blocks, the old ones freed after;
void SimReplaceEmitters(SimAircraft* aircraft, int slotCount, bool sameBlocks);
// appends `count` slots to the chain;
void SimAppendSlots(SimAircraft* aircraft, int count);
// puts `count` new slots in front of it, the head of a singly linked list;
void SimPrependSlots(SimAircraft* aircraft, int count);
// breaks it: its last slot leads back to slot `position`, so no walk ends;
void SimLoopChain(SimAircraft* aircraft, int position);
// sets slot `position` again: a new position, and with `newName` a new name of
// its own too (without, the name pointer is left as it is; the own values then
// stay those it had when the name was last its own).
void SimChangeSlot(SimAircraft* aircraft, int position, bool newName);

// ---------------------------------------------------------------------------
// Where a loaded module lies in memory: from its base through its image size.
size_t SimImageSize(HMODULE module);
bool SimPointsInto(const void* pointer, HMODULE module, size_t imageSize);

// ---------------------------------------------------------------------------
// Main window ("FS98MAIN", ANSI class, own menus "Полёт", "Вид", "Справка").
HWND SimCreateMainWindow(bool withMenuBar = true, bool visible = true);
void SimDestroyMainWindow();  // also destroys every window the module left behind
HWND SimMainWindow();
// The simulator puts its other menu bar on the window (made on the first
// call, as a mode of its own would) and keeps the one it takes off, which it
// returns. Both are its own: a module's pop-up stays on the bar it was added to.
HMENU SimSwitchMenuBar();
// WM_COMMAND messages that reached the simulator's own window procedure.
int SimForwardedCommandCount();
WPARAM SimLastForwardedCommand();
// Every message the simulator's own procedure received (the first few
// thousand since the window was made or the list cleared).
struct SimWindowMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
const std::vector<SimWindowMessage>& SimMainWindowMessages();
void SimClearMainWindowMessages();
// The simulator's own Exit command ("Полёт" -> "Выход").
const WORD kSimExitCommand = 30001;
// The simulator calls FreeLibrary on the module while its own procedure
// handles the next `message` (for WM_COMMAND, only command `command`), once.
void SimFreeLibraryInside(UINT message, WORD command = 0);
void SimPumpMessages();  // dispatches everything queued for this thread
// Menu bar texts, as the pilot sees them.
std::vector<std::string> SimMenuBarTitles();

// ---------------------------------------------------------------------------
// Services: writes the three tables into the entries with ids 0x0F, 0x19 and
// 0x0A of a module's ImportTable, as the simulator does after loading it.
void SimInstallServices(HostImportEntry* importTable);
// The simulator is going away: every service call is still logged, but
// CurrentAircraft and GetVariableWriter hand out null. SimReset ends it.
void SimPoisonServices(bool poisoned);

// Module loading. SimLoadModule loads the DLL, optionally patches its imports
// (timers, dialog creation), finds ImportTable and installs the services.
struct SimLoadOptions {
  bool fakeTimers = true;       // SetTimer/KillTimer recorded and driven by the tests
  bool failDialogCreation = false;
  bool interceptMessageBox = true;
  bool installServices = true;  // false leaves ImportTable as the module exported it
};
// Each load takes a fresh copy of the file, so a module that keeps itself in
// the process after FreeLibrary is loaded anew every time.
HMODULE SimLoadModule(const char* path, const SimLoadOptions& options = SimLoadOptions());
// The copy itself, for a caller that loads it by LoadLibraryA: the DLL at
// `path` under a file name of its own, in a folder of this process's that a
// later process removes; empty on failure.
std::string SimFreshModuleCopy(const char* path);
void SimFreeLibrary();  // FreeLibrary of the module loaded last; it is then forgotten
HMODULE SimLoadedModule();
// True while the module's image is still mapped in the process.
bool SimModuleResident(HMODULE module);
// The same interception for code linked into the test program itself.
void SimInterceptImports(HMODULE module, const SimLoadOptions& options);
void SimSetDialogCreationFails(bool fail);

// Replaces one imported function of `module` in its import address table.
bool SimPatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                    void** original);

// ---------------------------------------------------------------------------
// Timers, driven tick by tick while fake timers are on.
struct SimTimer {
  HWND window;
  UINT_PTR id;
  UINT period;
  TIMERPROC proc;
};
std::vector<SimTimer> SimTimers();  // live ones: timers of destroyed windows are dropped
const SimTimer* SimFindTimer(HWND window, UINT_PTR id);
bool SimFireTimer(HWND window, UINT_PTR id);  // false when no such timer
int SimTimerCount(UINT_PTR id);

// ---------------------------------------------------------------------------
// The pilot's hands: what a pilot does with the menu and the dialog, delivered
// as the same window messages the real controls would send.
void SimFramePaint();  // WM_NCPAINT to the main window
LRESULT SimMenuCommand(WORD id = kMenuCommandId);
std::vector<HWND> SimModuleDialogs();  // the module's dialogs, visible or hidden, oldest first
HWND SimVisibleDialog();               // the visible one, or null
void SimChooseEntry(HWND dialog, int index);                 // CB_SETCURSEL, then CBN_SELCHANGE
void SimTypeText(HWND dialog, int controlId, const char* text);
void SimPress(HWND dialog, int controlId);                   // BN_CLICKED
void SimToggleBox(HWND dialog, int controlId);               // flips the auto check box, BN_CLICKED
std::string SimControlText(HWND dialog, int controlId);
bool SimControlEnabled(HWND dialog, int controlId);
bool SimBoxChecked(HWND dialog, int controlId);
std::vector<std::string> SimListEntries(HWND dialog, int controlId);
int SimListSelection(HWND dialog, int controlId);

// ---------------------------------------------------------------------------
// A fresh working directory with an empty Modules folder, as the simulator's
// own folder would be; the module finds "Modules\Kolvarine.cfg" in the
// current folder when it attaches. Returns the folder and makes it current;
// `nameTheCodePageCannotSpell` gives it a name no ANSI code page spells.
std::string SimEnterTempFolder(bool nameTheCodePageCannotSpell = false);
void SimLeaveTempFolder();  // back to the previous directory, folder removed
// A file dialog moves the current folder: to another one with a
// Modules\Kolvarine.cfg of its own (effect "elsewhere", both switches 0).
void SimMoveCurrentFolder();
void SimReturnToSimulatorFolder();
// The simulator's folder's Modules\Kolvarine.cfg, wherever the current folder
// is. Each write gives it a later write time, so the profile functions never
// take a rewrite for the file they cached.
void SimWriteConfig(const std::string& text);
void SimDeleteConfig();
std::string SimReadConfig();  // empty when absent

// Message hooks a loaded module set through SetWindowsHookExA, as long as
// the simulator's process would keep them.
struct SimHook {
  HHOOK hook;
  int type;        // WH_GETMESSAGE, ...
  DWORD threadId;  // the thread hooked; 0 for every thread
};
std::vector<SimHook> SimHooks();

// Resets log, aircraft, timers, hooks (taken off, as the simulator's process
// would end) and interception state (not the window).
void SimReset();
