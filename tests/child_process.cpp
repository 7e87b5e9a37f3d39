// Child processes of the test program: started side by side, each watched
// with its own output, exit status and time limit.
#include <stdio.h>
#include <stdlib.h>

#include "tests/fixtures.h"

std::string ProgramBesideThisOne(const char* name) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

static std::string ThisProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  return std::string(path, length);
}

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

static std::vector<char> CommandLine(const std::string& command) {
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  return line;
}

namespace {

// One child while it runs: through a pipe, or through a Unix shell that
// writes its output and status into files.
struct Child {
  ChildRun run = {~0u, std::string(), 0};
  DWORD started = 0;
  DWORD limitMs = 0;
  bool done = false;
  HANDLE process = NULL;
  HANDLE output = NULL;  // our end of its pipe
  std::string files;     // the shell's files, without their extensions
};

// Standard input is NUL: a program that waits for Enter sees its end at once.
bool StartPiped(Child* child, const std::string& command, const std::vector<std::string>& environment) {
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), NULL, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
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
  std::vector<char> line = CommandLine(command);
  const BOOL started =
      CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process);
  SetEnvironment(previous, NULL);
  // Closed at once, so that the next child does not inherit them and the
  // pipe reports its end when this child's copy goes.
  CloseHandle(writeEnd);
  CloseHandle(nul);
  if (!started) {
    CloseHandle(readEnd);
    return false;
  }
  CloseHandle(process.hThread);
  child->process = process.hProcess;
  child->output = readEnd;
  return true;
}

// Wine hands a Unix process neither our pipe nor its exit status: the shell
// writes both into files in /tmp, and writes the status last. Without a
// locale the child keeps ours.
bool StartInUnixShell(Child* child, const std::string& command, const std::vector<std::string>& environment,
                      const char* locale) {
  const std::string loader = WineLoader();
  if (loader.empty()) {
    child->run.output = "not under Wine: no Unix locale to run in";
    return false;
  }
  static unsigned counter = 0;
  char name[96];
  snprintf(name, sizeof(name), "kolvarine-child-%lu-%u", GetCurrentProcessId(), ++counter);
  const std::string unixBase = std::string("/tmp/") + name;
  child->files = std::string("Z:\\tmp\\") + name;
  const std::string script = (locale ? std::string("LC_ALL=") + locale + " " : std::string()) + "timeout " +
                             std::to_string(child->limitMs / 1000) + " " + loader + " " + command + " </dev/null >" +
                             unixBase + ".out 2>&1; echo $? >" + unixBase + ".rc";
  std::vector<char> line = CommandLine("Z:\\bin\\sh -c \"" + script + "\"");
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::vector<std::string> previous;
  SetEnvironment(environment, &previous);
  const BOOL started = CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
  SetEnvironment(previous, NULL);
  if (!started) return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Takes what a piped child wrote; true once it has ended or been ended.
bool PollPiped(Child* child) {
  char chunk[4096];
  DWORD available = 0, read = 0;
  bool ended = false;
  // Polled, so that a process that never ends cannot block a read.
  while (!ended) {
    if (!PeekNamedPipe(child->output, NULL, 0, NULL, &available, NULL)) {
      ended = true;  // every copy of the writing end is closed
    } else if (available == 0) {
      break;
    } else if (ReadFile(child->output, chunk, sizeof(chunk), &read, NULL)) {
      child->run.output.append(chunk, read);
    } else {
      ended = true;
    }
  }
  if (!ended && GetTickCount() - child->started > child->limitMs) {
    TerminateProcess(child->process, ~0u);
    child->run.output += "\n(ended: still running after " + std::to_string(child->limitMs / 1000) + " s)";
    ended = true;
  }
  if (!ended) return false;
  WaitForSingleObject(child->process, INFINITE);
  GetExitCodeProcess(child->process, &child->run.status);
  CloseHandle(child->process);
  CloseHandle(child->output);
  return true;
}

// True once the shell has written the status, or the child outlived its
// limit by more than `timeout` allows it.
bool PollUnixShell(Child* child) {
  const std::string status = ReadWholeFile(child->files + ".rc");
  if (status.find('\n') == std::string::npos && GetTickCount() - child->started <= child->limitMs + 10000)
    return false;
  child->run.output = ReadWholeFile(child->files + ".out");
  if (!status.empty()) child->run.status = strtoul(status.c_str(), NULL, 10);
  if (child->run.status == 124) {  // what timeout says when it ended the child
    child->run.output += "\n(ended: still running after " + std::to_string(child->limitMs / 1000) + " s)";
  }
  DeleteFileA((child->files + ".rc").c_str());
  DeleteFileA((child->files + ".out").c_str());
  return true;
}

}  // namespace

// Every child started, then every child collected.
static std::vector<ChildRun> Run(const std::vector<ChildProgram>& programs, bool throughUnixShell) {
  // Under Wine the first program to use the desktop starts the desktop's
  // process, which inherits that program's standard error and lives as long
  // as the desktop: started by a child, it would hold our pipe open for good.
  GetDesktopWindow();
  std::vector<Child> children(programs.size());
  for (size_t i = 0; i < programs.size(); ++i) {
    const ChildProgram& program = programs[i];
    Child& child = children[i];
    child.limitMs = program.limitMs;
    child.started = GetTickCount();
    const std::string path = program.program.empty() ? ThisProgram() : program.program;
    const bool started =
        throughUnixShell || program.unixLocale
            ? StartInUnixShell(&child, "'" + path + "' " + program.arguments, program.environment, program.unixLocale)
            : StartPiped(&child, "\"" + path + "\" " + program.arguments, program.environment);
    child.done = !started;
  }
  for (bool pending = true; pending;) {
    pending = false;
    for (Child& child : children) {
      if (child.done) continue;
      child.done = child.files.empty() ? PollPiped(&child) : PollUnixShell(&child);
      if (child.done) child.run.milliseconds = GetTickCount() - child.started;
      pending |= !child.done;
    }
    if (pending) Sleep(10);
  }
  std::vector<ChildRun> runs;
  for (const Child& child : children) runs.push_back(child.run);
  return runs;
}

// Wine's CreateProcess returns only once the new process has started up,
// which takes a minute through qemu; started by a Unix shell, the children
// start up side by side. Elsewhere CreateProcess returns at once.
std::vector<ChildRun> RunSideBySide(const std::vector<ChildProgram>& programs) {
  return Run(programs, UnderWine());
}

ChildRun RunProgram(const std::string& program, const std::string& arguments,
                    const std::vector<std::string>& environment, DWORD limitMs, const char* unixLocale) {
  return Run({{program, arguments, environment, limitMs, unixLocale}}, false).front();
}

ChildRun RunThisProgram(const std::string& arguments, const std::vector<std::string>& environment, DWORD limitMs,
                        const char* unixLocale) {
  return RunProgram(std::string(), arguments, environment, limitMs, unixLocale);
}

HANDLE StartProgram(const std::string& program, const std::string& arguments) {
  GetDesktopWindow();  // as in Run
  std::vector<char> line = CommandLine("\"" + program + "\" " + arguments);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
    return NULL;
  CloseHandle(process.hThread);
  return process.hProcess;
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
