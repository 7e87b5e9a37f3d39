// Test fixtures: the module's code linked into the test program (CoreTest) or
// the real Kolvarine.dll loaded into the stand-in simulator (SimulatorTest).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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
  virtual SimLoadOptions LoadOptions() const { return SimLoadOptions(); }

  HWND OpenDialog();  // frame paint and menu command; returns the new dialog
  void ChooseAircraft(const char* listText);
  void PressLoad() { SimPress(dialog_, IDC_LOAD_BUTTON); }
  void PressDrop() { SimPress(dialog_, IDC_DROP_BUTTON); }
  void PressExit() { SimPress(dialog_, IDC_EXIT_BUTTON); }
  void ToggleVisualisation() { SimToggleBox(dialog_, IDC_VISUAL_BOX); }
  bool TickDrop(HWND dialog = nullptr) { return SimFireTimer(dialog ? dialog : dialog_, IDT_DROP_TIMER); }
  bool TickGate(HWND dialog = nullptr) { return SimFireTimer(dialog ? dialog : dialog_, IDT_GATE_TIMER); }
  // Ticks the drop timer until it is gone; returns the ticks that stepped.
  int TickUntilDropEnds(HWND dialog = nullptr, int limit = 100000);
  std::string Label() { return SimControlText(dialog_, IDC_COUNT_LABEL); }
  double LastLoad();  // the last carried load the module wrote

  HMODULE module_ = nullptr;
  SimAircraft* aircraft_ = nullptr;
  HWND dialog_ = nullptr;
};

// "Количество десантников: N чел."
std::string CountLabel(int count);
