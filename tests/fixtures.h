// Test fixtures: the module's code linked into the test program (CoreTest) or
// the real Kolvarine.dll loaded into the stand-in simulator (SimulatorTest).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "simhost/sim_host.h"

// Kolvarine.dll beside the test program.
std::string ModuleDllPath();

// Every module-wide variable back to its state at library load.
void ResetModuleState();

// The module's code in this process, with the stand-in simulator's services
// installed into its ImportTable and its timers driven by the test.
class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A control dialog from this program's template 101, as OpenControlDialog makes it.
  HWND CreateControlDialog();

  SimAircraft* aircraft_ = nullptr;
};

// The real DLL in the stand-in simulator, driven only as the simulator and
// the pilot would: records, window messages and timers.
class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  HWND OpenDialog();  // frame paint and menu command; returns the new dialog
  void ChooseAircraft(const char* listText);
  // A new dialog, the box ticked when `visualise`, the entry chosen and loaded.
  void OpenAndLoad(const char* listText, bool visualise = false);
  // A new dialog, the custom entry chosen, both fields typed and loaded.
  void OpenAndLoadCustom(const char* count, const char* interval);
  void PressLoad() { SimPress(dialog_, IDC_LOAD_BUTTON); }
  void PressDrop() { SimPress(dialog_, IDC_DROP_BUTTON); }
  void PressExit() { SimPress(dialog_, IDC_EXIT_BUTTON); }
  void ToggleVisualisation() { SimToggleBox(dialog_, IDC_VISUAL_BOX); }
  bool TickDrop(HWND dialog = nullptr) { return SimFireTimer(dialog ? dialog : dialog_, kDropTimerId); }
  bool TickGate(HWND dialog = nullptr) { return SimFireTimer(dialog ? dialog : dialog_, kGateTimerId); }
  // Ticks the drop timer until it is gone; returns the ticks that stepped.
  int TickUntilDropEnds(HWND dialog = nullptr, int limit = 100000);
  std::string Label() { return SimControlText(dialog_, IDC_COUNT_LABEL); }
  double LastLoad();  // the last carried load the module wrote

  // How SetUp loads the module; a fixture that wants other options sets them
  // in its constructor.
  SimLoadOptions loadOptions_;
  HMODULE module_ = nullptr;
  SimAircraft* aircraft_ = nullptr;
  HWND dialog_ = nullptr;
};

// What the module wrote as the carried load and showed on screen, in order,
// since the simulator's log was last cleared.
std::vector<double> WrittenLoads();
std::vector<std::string> ShownTexts();

// Titles on the simulator's menu bar that read as the module's menu.
int ModuleTitlesOnTheBar();

// The message loop, as the simulator runs it while the module's real timers
// tick: for `milliseconds`, or until the module has shown `texts` on-screen
// texts (a drop's start and end) or `limitMs` have passed.
void PumpFor(DWORD milliseconds);
void PumpUntilShown(int texts, DWORD limitMs);

// Programs run as child processes and watched: this test program again, for
// what may crash the simulator or needs a process of its own (another code
// page, a fresh set of pinned modules), or KolvarineCheck.exe. `environment`
// adds "NAME=value" variables; standard input is NUL, standard output and
// error are captured; a child still running after `limitMs` is ended.
//
// `unixLocale` runs the child under that Unix locale, which gives Wine its
// ANSI code page (ja_JP.UTF-8: 932). Wine hands a child process the Unix
// locale of its parent whatever the Windows environment says, so the child is
// started through a Unix shell. Fails at once outside Wine.
struct ChildProgram {
  std::string program;  // empty: this test program
  std::string arguments;
  std::vector<std::string> environment;
  DWORD limitMs;
  const char* unixLocale;
};
struct ChildRun {
  DWORD status;  // exit status, or ~0 when it could not start or was ended
  std::string output;
  DWORD milliseconds;  // from its start to its end
};
// All started, then all collected, each with its own output, status and time
// limit: where every start of a 32-bit program takes a minute (through qemu),
// children that wait for each other would take minutes each. Under Wine each
// is started through a Unix shell, as with `unixLocale`.
std::vector<ChildRun> RunSideBySide(const std::vector<ChildProgram>& programs);
ChildRun RunProgram(const std::string& program, const std::string& arguments,
                    const std::vector<std::string>& environment, DWORD limitMs, const char* unixLocale = nullptr);
ChildRun RunThisProgram(const std::string& arguments, const std::vector<std::string>& environment, DWORD limitMs,
                        const char* unixLocale = nullptr);
// The same child, not waited for: its process handle, or null when it could
// not start. The caller waits for it and closes the handle.
HANDLE StartProgram(const std::string& program, const std::string& arguments);
// Sets "NAME=value" variables of this process (an empty value removes one);
// with `previous`, notes what they were, to be set back the same way.
void SetEnvironment(const std::vector<std::string>& variables, std::vector<std::string>* previous);
// A whole file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// A program beside this one (simhost.exe, KolvarineCheck.exe).
std::string ProgramBesideThisOne(const char* name);
// True where a child can be given another Unix locale.
bool UnderWine();

// A crash in this process prints its code and address and ends the process at
// once, instead of waiting for a debugger.
void EndProcessOnCrash();
