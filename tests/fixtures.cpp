#include "tests/fixtures.h"

#include <stdio.h>

#include "engine/drop_sequencer.h"
#include "engine/drop_state.h"
#include "engine/effect_slots.h"
#include "host/menu_hook.h"
#include "host/module_exports.h"
#include "tests/expected_texts.h"
#include "ui/control_dialog.h"
#include "ui/module_config.h"

std::string ModuleDllPath() { return ProgramBesideThisOne("Kolvarine.dll"); }

// The state a test can see through the module's interfaces; what the module
// keeps file-static is overwritten before it is read again.
void ResetModuleState() {
  g_dropState = DropState();
  g_effectSnapshot = EffectSnapshot();
  g_moduleConfig = ModuleConfig();
  g_controlDialog = nullptr;
  for (HostImportEntry& entry : ImportTable) entry.service = nullptr;
}

// --- CoreTest ---------------------------------------------------------------

void CoreTest::SetUp() {
  SimReset();
  ResetModuleState();
  SimEnterTempFolder();
  ASSERT_TRUE(SimCreateMainWindow() != nullptr) << "no window: is there a display?";
  SimInstallServices(ImportTable);
  SimInterceptImports(GetModuleHandleA(NULL), SimLoadOptions());
  aircraft_ = SimAddAircraft(4);
  SimSetCurrentAircraft(aircraft_);
  SimClearLog();
}

void CoreTest::TearDown() {
  SimDestroyMainWindow();
  SimLeaveTempFolder();
  ResetModuleState();
  SimReset();
}

HWND CoreTest::CreateControlDialog() {
  HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(kDialogTemplateId), SimMainWindow(),
                                   ControlDialogProc, 0);
  SimPumpMessages();  // the box's check state arrives as a posted message
  return dialog;
}

// --- SimulatorTest ----------------------------------------------------------

void SimulatorTest::SetUp() {
  SimReset();
  SimEnterTempFolder();
  ASSERT_TRUE(SimCreateMainWindow() != nullptr) << "no window: is there a display?";
  aircraft_ = SimAddAircraft(4);
  SimSetCurrentAircraft(aircraft_);
  module_ = SimLoadModule(ModuleDllPath().c_str(), loadOptions_);
  ASSERT_TRUE(module_ != nullptr) << "cannot load " << ModuleDllPath();
  SimClearLog();
}

void SimulatorTest::TearDown() {
  if (SimLoadedModule()) SimFreeLibrary();
  SimDestroyMainWindow();
  SimLeaveTempFolder();
  SimReset();
}

HWND SimulatorTest::OpenDialog() {
  SimFramePaint();
  SimMenuCommand(kMenuCommandId);
  SimPumpMessages();
  dialog_ = SimVisibleDialog();
  return dialog_;
}

void SimulatorTest::ChooseAircraft(const char* listText) {
  std::vector<std::string> entries = SimListEntries(dialog_, IDC_CONFIG_LIST);
  for (size_t index = 0; index < entries.size(); ++index) {
    if (entries[index] == listText) {
      SimChooseEntry(dialog_, static_cast<int>(index));
      return;
    }
  }
  ADD_FAILURE() << "no list entry " << listText;
}

void SimulatorTest::OpenAndLoad(const char* listText, bool visualise) {
  OpenDialog();
  if (visualise) ToggleVisualisation();
  ChooseAircraft(listText);
  PressLoad();
}

void SimulatorTest::OpenAndLoadCustom(const char* count, const char* interval) {
  OpenDialog();
  ChooseAircraft("Пользовательская");
  SimTypeText(dialog_, IDC_COUNT_FIELD, count);
  SimTypeText(dialog_, IDC_INTERVAL_FIELD, interval);
  PressLoad();
}

int SimulatorTest::TickUntilDropEnds(HWND dialog, int limit) {
  HWND window = dialog ? dialog : dialog_;
  int steps = 0;
  int before = SimCount(kSimSetVariable);
  for (int tick = 0; tick < limit && SimFindTimer(window, kDropTimerId); ++tick) TickDrop(window);
  steps = SimCount(kSimSetVariable) - before;
  return steps;
}

std::vector<double> WrittenLoads() {
  std::vector<double> loads;
  for (const SimCall& call : SimLog())
    if (call.op == kSimSetVariable) loads.push_back(call.value);
  return loads;
}

std::vector<std::string> ShownTexts() {
  std::vector<std::string> texts;
  for (const SimCall& call : SimLog())
    if (call.op == kSimShowText) texts.push_back(call.text);
  return texts;
}

int ModuleTitlesOnTheBar() {
  int titles = 0;
  for (const std::string& title : SimMenuBarTitles()) titles += title == kMenuTitleText;
  return titles;
}

void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    SimPumpMessages();
    Sleep(5);
  }
}

void PumpUntilShown(int texts, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (SimCount(kSimShowText) < texts && GetTickCount() - start < limitMs) {
    SimPumpMessages();
    Sleep(5);
  }
}

double SimulatorTest::LastLoad() {
  const SimCall* call = SimLast(kSimSetVariable);
  return call ? call->value : -1.0;
}
