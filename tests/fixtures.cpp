#include "tests/fixtures.h"

#include "engine/drop_sequencer.h"
#include "engine/drop_state.h"
#include "engine/effect_slots.h"
#include "host/menu_hook.h"
#include "host/module_exports.h"
#include "ui/control_dialog.h"
#include "ui/module_config.h"

std::string ModuleDllPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + "Kolvarine.dll";
}

std::string CountLabel(int count) {
  return "Количество десантников: " + std::to_string(count) + " чел.";
}

void ResetModuleState() {
  g_dropState = DropState();
  g_effectSnapshot = EffectSnapshot();
  g_lastPosition = SlotPosition();
  g_moduleConfig = ModuleConfig();
  g_cachedAircraft = nullptr;
  g_gateValue = 0.0;
  g_controlDialog = nullptr;
  g_mainWindow = nullptr;
  g_previousWindowProc = nullptr;
  g_detaching = false;
  g_module = nullptr;
  EffectNameBuffer()[0] = '\0';
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
  g_module = GetModuleHandleA(NULL);
  g_mainWindow = SimMainWindow();
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
  HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONTROL_DIALOG), SimMainWindow(),
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
  module_ = SimLoadModule(ModuleDllPath().c_str(), LoadOptions());
  ASSERT_TRUE(module_ != nullptr) << "cannot load " << ModuleDllPath();
  SimClearLog();
}

void SimulatorTest::TearDown() {
  if (SimLoadedModule()) SimUnloadModule();
  SimDestroyMainWindow();
  SimLeaveTempFolder();
  SimReset();
}

HWND SimulatorTest::OpenDialog() {
  SimFramePaint();
  SimMenuCommand(IDM_DROP_COMMAND);
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

int SimulatorTest::TickUntilDropEnds(HWND dialog, int limit) {
  HWND window = dialog ? dialog : dialog_;
  int steps = 0;
  int before = SimCount(kSimSetVariable);
  for (int tick = 0; tick < limit && SimFindTimer(window, IDT_DROP_TIMER); ++tick) TickDrop(window);
  steps = SimCount(kSimSetVariable) - before;
  return steps;
}

double SimulatorTest::LastLoad() {
  const SimCall* call = SimLast(kSimSetVariable);
  return call ? call->value : -1.0;
}
