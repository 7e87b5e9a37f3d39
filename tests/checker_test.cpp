// KolvarineCheck.exe as a pilot runs it: in a simulator folder of its own,
// its output read back through a pipe.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "simhost/sim_host.h"

namespace {

struct CheckerRun {
  DWORD status;
  std::string output;
};

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  std::string program(path, length);
  return program.substr(0, program.find_last_of("\\/") + 1);
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[4096];
  DWORD read;
  while (ReadFile(file, chunk, sizeof(chunk), &read, NULL) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}

// Standard input is NUL and output a pipe, so the checker never waits for Enter.
CheckerRun RunChecker(const std::string& arguments) {
  CheckerRun run = {~0u, std::string()};
  std::string command = "\"" + ProgramFolder() + "KolvarineCheck.exe\" " + arguments;
  std::vector<char> commandLine(command.begin(), command.end());
  commandLine.push_back('\0');
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), NULL, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, NULL);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessA(NULL, commandLine.data(), NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                                &process);
  CloseHandle(writeEnd);  // else the pipe never reports its end
  if (started) {
    char chunk[4096];
    DWORD read;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &read, NULL) && read > 0) run.output.append(chunk, read);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
  CloseHandle(nul);
  return run;
}

// "error: [an22] position_x: ..." becomes "error [an22] position_x"; the
// Russian words become the English ones.
std::vector<std::string> Findings(const std::string& output) {
  static const char* const kKinds[][2] = {
      {"error: ", "error"}, {"note: ", "note"}, {u8"ошибка: ", "error"}, {u8"заметка: ", "note"}};
  std::vector<std::string> findings;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    for (const auto& kind : kKinds) {
      std::string prefix = std::string(kind[0]) + "[";
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      size_t close = line.find(']', prefix.size());
      if (close == std::string::npos) break;
      std::string finding = std::string(kind[1]) + " " + line.substr(prefix.size() - 1, close - prefix.size() + 2);
      if (line.compare(close + 1, 1, " ") == 0) finding += line.substr(close + 1, line.find(':', close) - close - 1);
      findings.push_back(finding);
    }
  }
  return findings;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('|', start);
    if (end == std::string::npos) end = list.size();
    items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

struct CheckerCase {
  const char* name;
  const char* config;     // Modules\Kolvarine.cfg: "@shipped" the repository's file; null none
  const char* arguments;
  const char* effects;    // .fx files in an Effects folder beside Modules; null no such folder
  bool locked;            // held open without sharing while the checker runs
  DWORD status;
  const char* findings;   // "|"-separated; each is printed, and no error that is not listed
  const char* mention;    // text the output contains
  const char* absent;     // the start of a finding that must not be printed
};

const char kShippedCase[] = "ShippedFileGivesNoFindings";
const char kLongName[] = "@long";

const CheckerCase kCases[] = {
    {kShippedCase, "@shipped", "--english", nullptr, false, 0, "", "Errors: 0, notes: 0", "note"},
    {"RussianByDefault", "[an22]\nposition_x=5.5\n", "", nullptr, false, 1, "error [an22] position_x",
     u8"ошибка: [an22] position_x: «5.5» — не целое число; модуль возьмёт 5", ""},
    {"FractionIsCut", "[an22]\r\nposition_x=5.5\r\n", "--english", nullptr, false, 1, "error [an22] position_x",
     "the module uses 5", ""},
    {"TextAfterTheNumber", "[an22]\nposition_y=7 m\n", "--english", nullptr, false, 1, "error [an22] position_y",
     "has text after the number; the module uses 7", ""},
    {"NoDigits", "[an22]\nposition_z=abc\n", "--english", nullptr, false, 1, "error [an22] position_z",
     "the module uses 0", ""},
    {"Beyond32Bits", "[an22]\nposition_z=-99999999999\n", "--english", nullptr, false, 1, "error [an22] position_z",
     "does not fit in 32 bits; the module uses -2147483648", ""},
    {"SignAndLeadingZerosAreFine", "[an22]\nposition_x=+05\nposition_y=-007\nposition_z=-0\n", "--english", nullptr,
     false, 0, "", "[an22]: no effect, x 5, y -7, z 0", "error"},
    {"LongEffectNameIsCut", "[an22]\neffect_name=@long\n", "--english", nullptr, false, 1, "error [an22] effect_name",
     "300 characters long; the module uses only its first 259", ""},
    {"SwitchesOtherThanZeroOrOne", "[General]\nrealism=2\nvisual_view=yes\n", "--english", nullptr, false, 1,
     "error [General] realism|error [General] visual_view", "reads this as 2", ""},
    {"MisspeltKeyGetsAHint", "[an22]\npostion_x=3\neffect_name=fx\n", "--english", nullptr, false, 1,
     "error [an22] postion_x", "did you mean position_x?", ""},
    {"UnknownSectionGetsAHint", "[an-12]\nposition_x=3\n[zzz]\n", "--english", nullptr, false, 1,
     "error [an-12]|error [zzz]", "never reads this section; did you mean [an12]?", ""},
    {"NamesMatchWithoutRegardToCase", "[AN22]\nPOSITION_X=4\n[general]\nRealism=1\n", "--english", nullptr, false, 0,
     "", "[General] realism 1 (on)", "error"},
    {"KeyGivenTwice", "[an22]\nposition_z=-30\nposition_z=-40\n", "--english", nullptr, false, 1,
     "error [an22] position_z", "reads only the first: \"-30\"", ""},
    {"SectionGivenTwice", "[mi8]\neffect_name=fx\n[MI8]\neffect_name=other\n", "--english", nullptr, false, 1,
     "error [MI8]", "given again at line 3; the module reads only the first, at line 1", ""},
    {"LineBeforeTheFirstSection", "; a comment is fine\nposition_x=3\n[an22]\n", "--english", nullptr, false, 1,
     "error [] position_x", "line 2 stands before the first section", ""},
    {"ByteOrderMark", "\xEF\xBB\xBF[General]\nrealism=0\n", "--english", nullptr, false, 1, "error [General]",
     "byte-order mark", ""},
    {"AircraftWithoutSectionOrEffectName", "[an22]\nposition_x=1\n[il76]\neffect_name=\n", "--english", nullptr,
     false, 0, "note [an22] effect_name|note [il76] effect_name|note [user]|note [an26]", "no jumpers will show",
     ""},
    {"EffectNameOutsideAscii", "[an22]\neffect_name=fx_\xE4\xE5\xF1\n", "--english", nullptr, false, 0,
     "note [an22] effect_name", "outside plain ASCII", ""},
    {"EffectsFolderWithoutTheFile", "[an22]\neffect_name=fx_jumper\n", "--english", "fx_other", false, 0,
     "note [an22] effect_name", "has no file fx_jumper.fx", ""},
    {"EffectsFolderWithTheFile", "[an22]\neffect_name=fx_jumper\n", "--english", "fx_jumper", false, 0, "", "",
     "note [an22]"},
    {"FileNamedOnTheCommandLine", "[an22]\nposition_x=5.5\n", "--english Modules\\..\\Modules\\Kolvarine.cfg",
     nullptr, false, 1, "error [an22] position_x", "\\Modules\\Kolvarine.cfg", ""},
    {"MissingFile", nullptr, "--english missing.cfg", nullptr, false, 2, "", "it does not exist", "error"},
    {"FolderInsteadOfAFile", nullptr, "--english Modules", nullptr, false, 2, "", "is a folder", "error"},
    {"LockedFile", "[an22]\neffect_name=fx\n", "--english", nullptr, true, 2, "", "another program holds it open",
     "error"},
};

std::string ConfigBytes(const char* config) {
  if (std::string(config) == "@shipped") return ReadBytes(ProgramFolder() + "..\\..\\Kolvarine.cfg");
  std::string bytes = config;
  size_t at = bytes.find(kLongName);
  if (at != std::string::npos) bytes.replace(at, sizeof(kLongName) - 1, "fx_a_" + std::string(295, 'n'));
  return bytes;
}

CheckerRun RunCase(const CheckerCase& c) {
  SimEnterTempFolder();
  if (c.config) SimWriteConfig(ConfigBytes(c.config));
  if (c.effects) {
    CreateDirectoryA("Effects", NULL);
    CloseHandle(CreateFileA(("Effects\\" + std::string(c.effects) + ".fx").c_str(), GENERIC_WRITE, 0, NULL,
                            CREATE_ALWAYS, 0, NULL));
  }
  HANDLE lock = c.locked ? CreateFileA("Modules\\Kolvarine.cfg", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL)
                         : INVALID_HANDLE_VALUE;
  CheckerRun run = RunChecker(c.arguments);
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  SimLeaveTempFolder();
  return run;
}

}  // namespace

// Each 32-bit process costs about a minute where the kernel needs qemu: the
// 32-bit build runs only the shipped file.
TEST(CheckerTest, FindingsAndExitStatusForEachKindOfMistake) {
  if (sizeof(void*) == 4) {
    ASSERT_STREQ(kShippedCase, kCases[0].name);
  }
  for (const CheckerCase& c : kCases) {
    if (sizeof(void*) == 4 && c.name != kShippedCase) continue;
    SCOPED_TRACE(c.name);
    CheckerRun run = RunCase(c);
    EXPECT_EQ(c.status, run.status) << run.output;
    std::vector<std::string> printed = Findings(run.output);
    std::vector<std::string> expected = Split(c.findings);
    for (const std::string& finding : expected) {
      EXPECT_NE(printed.end(), std::find(printed.begin(), printed.end(), finding)) << finding << "\n" << run.output;
    }
    for (const std::string& finding : printed) {
      bool listed = std::find(expected.begin(), expected.end(), finding) != expected.end();
      EXPECT_TRUE(listed || finding.compare(0, 5, "error") != 0) << "unexpected " << finding << "\n" << run.output;
      if (*c.absent) EXPECT_NE(0, finding.compare(0, strlen(c.absent), c.absent)) << run.output;
    }
    EXPECT_NE(std::string::npos, run.output.find(c.mention)) << c.mention << "\n" << run.output;
  }
}
