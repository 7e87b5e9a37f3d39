// KolvarineCheck.exe as a pilot runs it: in a simulator folder of its own,
// its output read back through a pipe.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "checker/console_text.h"
#include "simhost/sim_host.h"
#include "tests/fixtures.h"

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
}

// A checker that hangs (waiting for Enter, say) is ended rather than holding
// up the whole suite; not sooner than ten minutes, since a first start of a
// 32-bit program through an emulator takes over a minute.
const DWORD kRunLimitMs = 600000;

// "error: [an22] position_x: ..." becomes "error [an22] position_x", and
// "error: position_x (outside any section): ..." "error position_x (outside
// any section)"; the Russian words become the English ones.
std::vector<std::string> Findings(const std::string& output) {
  static const char* const kKinds[][2] = {
      {"error: ", "error"}, {"note: ", "note"}, {u8"ошибка: ", "error"}, {u8"замечание: ", "note"}};
  static const char* const kOutside[] = {" (outside any section): ", u8" (вне раздела): "};
  std::vector<std::string> findings;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    for (const auto& kind : kKinds) {
      std::string word = kind[0];
      if (line.compare(0, word.size(), word) != 0) continue;
      std::string rest = line.substr(word.size());
      for (const char* outside : kOutside) {
        // The marker's colon must be the first: a message may quote the words.
        size_t at = rest.find(outside);
        if (at != std::string::npos && rest.find(':') > at) {
          findings.push_back(std::string(kind[1]) + " " + rest.substr(0, at) + " (outside any section)");
        }
      }
      std::string prefix = word + "[";
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

// Notes that an aircraft has no section at all come with almost every row;
// only the listed ones are checked. Every other finding must be listed.
struct CheckerCase {
  const char* name;
  const char* config;     // Modules\Kolvarine.cfg: "@shipped" the repository's file; null none
  const char* arguments;  // "@longN" becomes a name N characters long, as in config
  const char* effects;    // .fx files in an Effects folder beside Modules; null no such folder
  bool locked;            // held open without sharing while the checker runs
  DWORD status;
  const char* findings;   // "|"-separated; each is printed, and nothing else but "no section" notes
  const char* mention;    // text the output contains
  const char* absent;     // text the output must not contain
  // Kolvarine.cfg beside a copy of the checker in folder "tools", which then
  // runs instead of the one built ("" the copy alone); null: no copy.
  const char* besideProgram = nullptr;
  const char* locale = nullptr;  // LC_ALL of a checker started from a Unix shell (only Wine has one); null: as the tests
  // The copy of Modules\Kolvarine.cfg Windows keeps in the VirtualStore of a
  // LOCALAPPDATA made for the run; null: none.
  const char* virtualStoreCopy = nullptr;
  bool beyond4GiB = false;  // Modules\Kolvarine.cfg grown by 4 GiB, sparse: the low 32 bits of its size stay
};

const char kShippedCase[] = "ShippedFileGivesNoFindings";
const char kLongName[] = "@long";
const char kUtf16[] = "@utf16:";  // the rest, ASCII, saved as Notepad saves "Unicode"

const CheckerCase kCases[] = {
    {kShippedCase, "@shipped", "--english", nullptr, false, 0, "", "Errors: 0, notes: 0", "note: "},
    {"RussianByDefault", "[an22]\nposition_x=5.5\n", "", nullptr, false, 1,
     "error [an22] position_x|note [an22] effect_name",
     u8"ошибка: [an22] position_x: «5.5» — не целое число; модуль возьмёт 5", ""},
    {"FractionIsCut", "[an22]\r\nposition_x=5.5\r\n", "--english", nullptr, false, 1,
     "error [an22] position_x|note [an22] effect_name", "the module uses 5", ""},
    {"FractionWithoutLeadingDigit", "[an22]\nposition_x=.5\n", "--english", nullptr, false, 1,
     "error [an22] position_x|note [an22] effect_name", "\".5\" is not a whole number; the module uses 0", ""},
    {"TextAfterTheNumber", "[an22]\nposition_y=7 m\n", "--english", nullptr, false, 1,
     "error [an22] position_y|note [an22] effect_name", "has text after the number; the module uses 7", ""},
    {"NoDigits", "[an22]\nposition_z=abc\n", "--english", nullptr, false, 1,
     "error [an22] position_z|note [an22] effect_name", "the module uses 0", ""},
    {"EmptyValuesAreMissingKeys", "[General]\nrealism=\n[an22]\neffect_name=fx\nposition_x=\n", "--english",
     nullptr, false, 0, "", "[an22]: effect \"fx\", x 0", "error: "},
    {"Beyond32Bits", "[an22]\nposition_z=-99999999999\n", "--english", nullptr, false, 1,
     "error [an22] position_z|note [an22] effect_name", "does not fit in 32 bits; the module uses -2147483648",
     ""},
    {"Largest32BitNumbersAreFine", "[an22]\nposition_x=2147483647\nposition_y=-2147483648\n", "--english",
     nullptr, false, 0, "note [an22] effect_name", "x 2147483647, y -2147483648", "error: "},
    {"OnePastTheLargest", "[an22]\nposition_x=2147483648\n", "--english", nullptr, false, 1,
     "error [an22] position_x|note [an22] effect_name", "does not fit in 32 bits; the module uses 2147483647",
     ""},
    {"SignAndLeadingZerosAreFine", "[an22]\nposition_x=+05\nposition_y=-007\nposition_z=-0\n", "--english", nullptr,
     false, 0, "note [an22] effect_name", "[an22]: no effect, x 5, y -7, z 0", "error: "},
    {"LongEffectNameIsCut", "[an22]\neffect_name=@long300\n", "--english", nullptr, false, 1,
     "error [an22] effect_name", "300 characters long; the module uses only its first 259", ""},
    {"EffectNameOf259IsWhole", "[an22]\neffect_name=@long259\n", "--english", nullptr, false, 0, "",
     "[an22]: effect \"fx_a_n", "error: "},
    {"EffectNameOf260IsCut", "[an22]\neffect_name=@long260\n", "--english", nullptr, false, 1,
     "error [an22] effect_name", "260 characters long", ""},
    {"EffectNameTooLongToMeasure", "[an22]\neffect_name=@long5000\n", "--english", nullptr, false, 1,
     "error [an22] effect_name", "at least 4095 characters long", ""},
    {"SwitchesOtherThanZeroOrOne", "[General]\nrealism=2\nvisual_view=yes\n", "--english", nullptr, false, 1,
     "error [General] realism|error [General] visual_view", "reads this as 2", ""},
    {"MisspeltKeyGetsAHint", "[an22]\npostion_x=3\neffect_name=fx\n", "--english", nullptr, false, 1,
     "error [an22] postion_x", "did you mean position_x?", ""},
    {"NameBeyondTwoEditsGetsNoHint", "[an22]\npozishun_x=3\neffect_name=fx\n", "--english", nullptr, false, 1,
     "error [an22] pozishun_x", "never reads this key in this section", "did you mean"},
    {"UnknownSectionGetsAHint", "[an-12]\nposition_x=3\n[zzz]\n", "--english", nullptr, false, 1,
     "error [an-12]|error [zzz]", "never reads this section; did you mean [an12]?", ""},
    {"NamesMatchWithoutRegardToCase", "[AN22]\nPOSITION_X=4\n[general]\nRealism=1\n", "--english", nullptr, false, 0,
     "note [AN22] effect_name", "[General] realism 1 (on)", "error: "},
    {"NoEffectNameNoteNamesTheSectionAsWritten", "[Il76]\nEffect_Name=\n", "--english", nullptr, false, 0,
     "note [Il76] Effect_Name", "no effect name: with", "[il76] effect_name"},
    {"KeyGivenTwice", "[an22]\nposition_z=-30\nposition_z=-40\n", "--english", nullptr, false, 1,
     "error [an22] position_z|note [an22] effect_name", "reads only the first: \"-30\"", ""},
    {"SectionGivenTwice", "[mi8]\neffect_name=fx\n[MI8]\neffect_name=other\n", "--english", nullptr, false, 1,
     "error [MI8]", "given again at line 3; the module reads only the first, at line 1", ""},
    {"SoftHyphenMakesAnotherSection", "[an\xAD" "12]\neffect_name=fx\n", "--english", nullptr, false, 1,
     "error [an\xC2\xAD" "12]", "did you mean [an12]?", ""},
    {"LineBeforeTheFirstSection", "; a comment is fine\nposition_x=3\n[an22]\n", "--english", nullptr, false, 1,
     "error position_x (outside any section)|note [an22] effect_name",
     "error: position_x (outside any section): line 2 stands before the first section; the module never reads it",
     "[]"},
    {"LineBeforeTheFirstSectionInRussian", "; a comment is fine\nposition_x=3\n[an22]\n", "", nullptr, false, 1,
     "error position_x (outside any section)|note [an22] effect_name",
     u8"ошибка: position_x (вне раздела): строка 2 стоит до первого раздела, и модуль её не читает", "[]"},
    {"ByteOrderMark", "\xEF\xBB\xBF[General]\nrealism=0\n", "--english", nullptr, false, 1, "error [General]",
     "byte-order mark, and with it Windows does not recognise this section's header on line 1: the module reads none",
     ""},
    {"ByteOrderMarkBeforeAComment", "\xEF\xBB\xBF; first line\n[General]\nrealism=0\n", "--english", nullptr, false,
     0, "", "Errors: 0", "byte-order mark"},
    {"ByteOrderMarkHidesTheFirstOfTwoSections", "\xEF\xBB\xBF[General]\nrealism=1\n[general]\nrealism=0\n",
     "--english", nullptr, false, 1, "error [General]", "byte-order mark", "given again"},
    {"Utf16FileIsReadAsText", "@utf16:[General]\r\nrealism=1\r\n[an22]\r\neffect_name=fx\r\nposition_x=2\r\n",
     "--english", nullptr, false, 0, "", "[an22]: effect \"fx\", x 2", "error: "},
    {"Utf16FileIsScannedForRepeats", "@utf16:[an22]\r\neffect_name=fx\r\n[AN22]\r\nposition_x=3\r\n", "--english",
     nullptr, false, 1, "error [AN22]", "given again at line 3; the module reads only the first, at line 1", ""},
    {"AircraftWithoutSectionOrEffectName", "[an22]\nposition_x=1\n[il76]\neffect_name=\n", "--english", nullptr,
     false, 0, "note [an22] effect_name|note [il76] effect_name|note [user]|note [an26]",
     "shows no jumpers, and the aircraft's first four effect points lose their own effects until it ends", ""},
    {"AircraftWithoutEffectNameInRussian", "[an22]\nposition_x=1\n", "", nullptr, false, 0, "note [an22] effect_name",
     u8"выброска на «АН-22»", ""},
    {"EffectNameOutsideAscii", "[an22]\neffect_name=fx_\xE4\xE5\xF1\n", "--english", nullptr, false, 0,
     "note [an22] effect_name", "outside plain ASCII", ""},
    {"EffectsFolderWithoutTheFile", "[an22]\neffect_name=fx_jumper\n", "--english", "fx_other", false, 0,
     "note [an22] effect_name", "has no file fx_jumper.fx", ""},
    {"EffectNameWithItsExtension", "[an22]\neffect_name=fx_jumper.fx\n", "--english", "fx_jumper", false, 0,
     "note [an22] effect_name", "adds it itself and looks for fx_jumper.fx.fx; write fx_jumper", ""},
    {"EffectsFolderWithTheFile", "[an22]\neffect_name=fx_jumper\n", "--english", "fx_jumper", false, 0, "", "",
     "note: [an22]"},
    {"ModulesFolderNamedWithoutRegardToCase", "[an22]\neffect_name=fx_jumper\n", "--english modules\\kolvarine.cfg",
     "fx_other", false, 0, "note [an22] effect_name", "has no file fx_jumper.fx", ""},
    {"EffectsFolderCountsOnlyBesideModules", nullptr, "--english", "fx_other", false, 0, "", "", "note: [an22]",
     "[an22]\neffect_name=fx_jumper\n"},
    {"FileBesideTheProgramWhenModulesHasNone", nullptr, "--english", nullptr, false, 1,
     "error [an22] position_x|note [an22] effect_name", "\\tools\\Kolvarine.cfg", "", "[an22]\nposition_x=5.5\n"},
    {"ModulesFileComesFirst", "[an22]\neffect_name=fx\n", "--english", nullptr, false, 0, "",
     "\\Modules\\Kolvarine.cfg", "error: ", "[an22]\nposition_x=5.5\n"},
    {"NeitherFile", nullptr, "--english", nullptr, false, 2, "", "Found neither", "error: ", ""},
    {"FileNamedOnTheCommandLine", "[an22]\nposition_x=5.5\n", "--english Modules\\..\\Modules\\Kolvarine.cfg",
     nullptr, false, 1, "error [an22] position_x|note [an22] effect_name", "\\Modules\\Kolvarine.cfg", ""},
    {"FullPathLongerThanWindowsTakes", nullptr, "--english @long250", nullptr, false, 2, "",
     "full path is longer than 259 characters", "error: "},
    {"TypedPathLongerThanWindowsTakes", nullptr, "--english @long300", nullptr, false, 2, "",
     "full path is longer than 259 characters", "error: "},
    {"PathWithSpacesWithoutQuotes", nullptr, "--english Modules\\My Folder\\Kolvarine.cfg", nullptr, false, 2, "",
     "Put the path in quotes:\r\n  KolvarineCheck.exe \"Modules\\My Folder\\Kolvarine.cfg\"", "Cannot read"},
    {"FileOf4GiBOrMore", "[an22]\neffect_name=fx\n", "--english", nullptr, false, 2, "", "larger than a megabyte",
     "error: ", nullptr, nullptr, nullptr, true},
    {"VirtualStoreCopyIsCheckedToo", "[an22]\neffect_name=fx\n", "--english", nullptr, false, 1,
     "error [an22] position_x", "edits to this file never reach it", "", nullptr, nullptr,
     "[an22]\neffect_name=fx\nposition_x=5.5\n"},
    {"CodePageOtherThan1251", "[an22]\neffect_name=fx\n", "--english", nullptr, false, 0, "",
     "Windows uses code page 932 for non-Unicode programs", "", nullptr, "ja_JP.UTF-8"},
    {"CodePageOtherThan1251InRussian", "[an22]\neffect_name=fx\n", "", nullptr, false, 0, "",
     u8"«Региональные стандарты»", "", nullptr, "ja_JP.UTF-8"},
    {"MissingFile", nullptr, "--english missing.cfg", nullptr, false, 2, "", "it does not exist", "error: "},
    {"FolderInsteadOfAFile", nullptr, "--english Modules", nullptr, false, 2, "", "is a folder", "error: "},
    {"LockedFile", "[an22]\neffect_name=fx\n", "--english", nullptr, true, 2, "", "another program holds it open",
     "error: "},
};

// "@longN" becomes an effect name N characters long.
std::string ExpandLongName(std::string text) {
  size_t at = text.find(kLongName);
  if (at == std::string::npos) return text;
  size_t digits = at + sizeof(kLongName) - 1;
  size_t end = text.find_first_not_of("0123456789", digits);
  if (end == std::string::npos) end = text.size();
  size_t length = std::stoul(text.substr(digits, end - digits));
  return text.replace(at, end - at, "fx_a_" + std::string(length - 5, 'n'));
}

std::string ConfigBytes(const char* config) {
  if (std::string(config) == "@shipped") return ReadWholeFile(ProgramBesideThisOne("..\\..\\Kolvarine.cfg"));
  std::string bytes = ExpandLongName(config);
  if (bytes.compare(0, sizeof(kUtf16) - 1, kUtf16) != 0) return bytes;
  std::string utf16 = "\xFF\xFE";
  for (size_t index = sizeof(kUtf16) - 1; index < bytes.size(); ++index) utf16 += std::string(1, bytes[index]) + '\0';
  return utf16;
}

// Each folder of `path` up to its last backslash.
void CreateFolders(const std::string& path) {
  for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
    CreateDirectoryA(path.substr(0, slash).c_str(), NULL);
  }
}

// Grown without writing and marked sparse, the file takes no disk space.
void GrowBy4GiB(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD returned;
  DeviceIoControl(file, FSCTL_SET_SPARSE, NULL, 0, NULL, 0, &returned, NULL);
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  size.QuadPart += 1LL << 32;
  SetFilePointerEx(file, size, NULL, FILE_BEGIN);
  SetEndOfFile(file);
  CloseHandle(file);
}

ChildRun RunCase(const CheckerCase& c) {
  std::string folder = SimEnterTempFolder();
  if (c.config) SimWriteConfig(ConfigBytes(c.config));
  if (c.beyond4GiB) GrowBy4GiB("Modules\\Kolvarine.cfg");
  std::vector<std::string> saved;  // variables set for this run only
  if (c.virtualStoreCopy) {
    // Where Windows keeps it: the store, then the file's path without its drive.
    std::string store = folder + "\\Local";
    std::string copy = store + "\\VirtualStore" + folder.substr(2) + "\\Modules\\Kolvarine.cfg";
    CreateFolders(copy);
    WriteBytes(copy, c.virtualStoreCopy);
    SetEnvironment({"LOCALAPPDATA=" + store}, &saved);
  }
  if (c.effects) {
    CreateDirectoryA("Effects", NULL);
    CloseHandle(CreateFileA(("Effects\\" + std::string(c.effects) + ".fx").c_str(), GENERIC_WRITE, 0, NULL,
                            CREATE_ALWAYS, 0, NULL));
  }
  std::string program = ProgramBesideThisOne("KolvarineCheck.exe");
  if (c.besideProgram) {
    CreateDirectoryA("tools", NULL);
    CopyFileA(program.c_str(), "tools\\KolvarineCheck.exe", FALSE);
    program = "tools\\KolvarineCheck.exe";
    if (*c.besideProgram) WriteBytes("tools\\Kolvarine.cfg", c.besideProgram);
  }
  HANDLE lock = c.locked ? CreateFileA("Modules\\Kolvarine.cfg", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL)
                         : INVALID_HANDLE_VALUE;
  ChildRun run = RunProgram(program, ExpandLongName(c.arguments), {}, kRunLimitMs, c.locale);
  SetEnvironment(saved, nullptr);
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
    // Only Wine lets the tests start a program in another code page.
    if (c.locale && !UnderWine()) continue;
    SCOPED_TRACE(c.name);
    ChildRun run = RunCase(c);
    EXPECT_EQ(c.status, run.status) << run.output;
    std::vector<std::string> printed = Findings(run.output);
    std::vector<std::string> expected = Split(c.findings);
    for (const std::string& finding : expected) {
      EXPECT_NE(printed.end(), std::find(printed.begin(), printed.end(), finding)) << finding << "\n" << run.output;
    }
    for (const std::string& finding : printed) {
      bool listed = std::find(expected.begin(), expected.end(), finding) != expected.end();
      bool noSection = finding.compare(0, 4, "note") == 0 && finding.back() == ']';
      EXPECT_TRUE(listed || noSection) << "unexpected " << finding << "\n" << run.output;
    }
    EXPECT_NE(std::string::npos, run.output.find(c.mention)) << c.mention << "\n" << run.output;
    if (*c.absent) {
      EXPECT_EQ(std::string::npos, run.output.find(c.absent)) << c.absent << "\n" << run.output;
    }
  }
}

// The table reads the checker through a pipe; what a console window gets is
// tried here: code page 866 has no «, » or —, 1251 has them all.
TEST(CheckerTest, ConsoleWithoutQuotesAndDashesGetsPlainOnes) {
  const std::wstring text = L"«fx» — «АН-22»…";
  wchar_t fitted[64];
  int length = FitToCodePage(text.c_str(), static_cast<int>(text.size()), 866, fitted, 64);
  EXPECT_EQ(std::wstring(L"\"fx\" - \"АН-22\"..."), std::wstring(fitted, length));
  length = FitToCodePage(text.c_str(), static_cast<int>(text.size()), 1251, fitted, 64);
  EXPECT_EQ(text, std::wstring(fitted, length));
}

// Without it Windows virtualizes the checker too: run from Program Files, it
// would read the VirtualStore copy while naming the real file.
TEST(CheckerTest, ManifestAsksToRunAsInvoker) {
  HMODULE checker = LoadLibraryExA(ProgramBesideThisOne("KolvarineCheck.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(checker != NULL);
  HRSRC resource = FindResourceA(checker, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_TRUE(resource != NULL);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(checker, resource))),
                       SizeofResource(checker, resource));
  FreeLibrary(checker);
  EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\""));
}
