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

std::string ProgramBesideThisOne(const char* name) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

std::string ModuleDllPath() { return ProgramBesideThisOne("Kolvarine.dll"); }

void SetEnvironment(const std::vector<std::string>& variables, std::vector<std::string>* previous) {
  for (const std::string& variable : variables) {
    const std::string name = variable.substr(0, variable.find('='));
    if (previous) {
      char value[1024];
      DWORD length = GetEnvironmentVariableA(name.c_str(), value, sizeof(value));
      previous->push_back(length > 0 && length < sizeof(value) ? name + "=" + value : name + "=");
    }
    const std::string value = variable.substr(name.size() + 1);
    SetEnvironmentVariableA(name.c_str(), value.empty() ? NULL : value.c_str());
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return text;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, NULL) && read > 0) text.append(chunk, read);
  CloseHandle(file);
  return text;
}

static std::string WineLoader() {
  char loader[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("WINELOADER", loader, sizeof(loader));
  return length > 0 && length < sizeof(loader) ? std::string(loader) : std::string();
}

bool UnderWine() { return !WineLoader().empty(); }

// Wine hands a Unix process neither our pipe nor its exit status: the shell
// writes both into files in /tmp, and writes the status last.
static ChildRun RunUnderUnixLocale(const std::string& command, const std::vector<std::string>& environment,
                                   DWORD limitMs, const char* locale) {
  ChildRun run = {~0u, std::string()};
  const std::string loader = WineLoader();
  if (loader.empty()) {
    run.output = "not under Wine: no Unix locale to run in";
    return run;
  }
  static unsigned counter = 0;
  char name[96];
  snprintf(name, sizeof(name), "kolvarine-child-%lu-%u", GetCurrentProcessId(), ++counter);
  const std::string windowsBase = std::string("Z:\\tmp\\") + name, unixBase = std::string("/tmp/") + name;
  std::string script = std::string("LC_ALL=") + locale + " timeout " + std::to_string(limitMs / 1000) + " " + loader +
                       " " + command + " </dev/null >" + unixBase + ".out 2>&1; echo $? >" + unixBase + ".rc";
  std::string shell = "Z:\\bin\\sh -c \"" + script + "\"";
  std::vector<char> commandLine(shell.begin(), shell.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::vector<std::string> previous;
  SetEnvironment(environment, &previous);
  const BOOL started = CreateProcessA(NULL, commandLine.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
  SetEnvironment(previous, NULL);
  if (!started) return run;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::string status;
  for (DWORD begin = GetTickCount();
       (status = ReadWholeFile(windowsBase + ".rc")).find('\n') == std::string::npos;) {
    if (GetTickCount() - begin > limitMs + 10000) break;
    Sleep(20);
  }
  run.output = ReadWholeFile(windowsBase + ".out");
  if (!status.empty()) run.status = strtoul(status.c_str(), NULL, 10);
  DeleteFileA((windowsBase + ".rc").c_str());
  DeleteFileA((windowsBase + ".out").c_str());
  return run;
}

ChildRun RunProgram(const std::string& program, const std::string& arguments,
                    const std::vector<std::string>& environment, DWORD limitMs, const char* unixLocale) {
  ChildRun run = {~0u, std::string()};
  // Under Wine the first program to use the desktop starts the desktop's
  // process, which inherits that program's standard error and lives as long
  // as the desktop: started by a child, it would hold our pipe open for good.
  GetDesktopWindow();
  if (unixLocale) return RunUnderUnixLocale("'" + program + "' " + arguments, environment, limitMs, unixLocale);
  std::string command = "\"" + program + "\" " + arguments;
  std::vector<char> commandLine(command.begin(), command.end());
  commandLine.push_back('\0');
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), NULL, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // Standard input is NUL: a program that waits for Enter sees its end at once.
  HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, NULL);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  // The child inherits this environment: changed for the call only.
  std::vector<std::string> previous;
  SetEnvironment(environment, &previous);
  BOOL started = CreateProcessA(NULL, commandLine.data(), NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                                &process);
  SetEnvironment(previous, NULL);
  CloseHandle(writeEnd);  // else the pipe never reports its end
  if (started) {
    // Polled, so that a process that never ends cannot block a read.
    DWORD begin = GetTickCount();
    char chunk[4096];
    for (;;) {
      DWORD available = 0, read = 0;
      if (!PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL)) break;  // the child has ended
      if (available > 0 && ReadFile(readEnd, chunk, sizeof(chunk), &read, NULL)) {
        run.output.append(chunk, read);
      } else if (GetTickCount() - begin > limitMs) {
        TerminateProcess(process.hProcess, ~0u);
        run.output += "\n(ended: still running after " + std::to_string(limitMs / 1000) + " s)";
        break;
      } else {
        WaitForSingleObject(process.hProcess, 10);
      }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
  CloseHandle(nul);
  return run;
}

HANDLE StartProgram(const std::string& program, const std::string& arguments) {
  GetDesktopWindow();  // as in RunProgram
  std::string command = "\"" + program + "\" " + arguments;
  std::vector<char> commandLine(command.begin(), command.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, commandLine.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
    return NULL;
  CloseHandle(process.hThread);
  return process.hProcess;
}

ChildRun RunThisProgram(const std::string& arguments, const std::vector<std::string>& environment, DWORD limitMs,
                        const char* unixLocale) {
  char program[MAX_PATH];
  GetModuleFileNameA(NULL, program, MAX_PATH);
  return RunProgram(program, arguments, environment, limitMs, unixLocale);
}

static LONG WINAPI ReportCrashAndEnd(EXCEPTION_POINTERS* info) {
  fprintf(stderr, "\ncrash 0x%08lx at %p\n", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
          info->ExceptionRecord->ExceptionAddress);
  fflush(stderr);
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

void EndProcessOnCrash() { SetUnhandledExceptionFilter(ReportCrashAndEnd); }

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
  if (SimLoadedModule()) SimUnloadModule();
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
