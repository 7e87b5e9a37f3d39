// KolvarineCheck.exe [--english] [FILE]: reads Kolvarine.cfg as the module
// does and tells the pilot what the module will use and what it ignores.
// Exit status: 0 no errors, 1 errors, 2 the file cannot be read.
#include <windows.h>

#include "checker/check_output.h"
#include "checker/config_checks.h"
#include "checker/config_scan.h"
#include "checker/config_values.h"
#include "checker/name_hint.h"
#include "ui/module_config.h"

enum ExitStatus { kNoErrors = 0, kErrorsFound = 1, kCannotRead = 2 };

enum OpenResult { kOpened, kMissing, kFolder, kLocked, kDenied, kTooLarge, kPathTooLong, kUnreadable };

static const char kFileBesideProgram[] = "Kolvarine.cfg";
// The Effects folder counts only beside the simulator's Modules folder.
static const char kModulesFolder[] = "Modules";
// A Kolvarine.cfg is a few hundred bytes; a file this large is something else.
static const DWORD kMaxFileSize = 1024 * 1024;

// Aligned for the characters of a file saved as UTF-16.
alignas(sizeof(wchar_t)) static char g_fileBytes[kMaxFileSize];
static int g_fileSize;
static char g_path[MAX_PATH];
static char g_effectsFolder[MAX_PATH];

static const Phrase kUsage = {
    L"Использование: KolvarineCheck.exe [--english] [ФАЙЛ]\r\n"
    L"Без ФАЙЛА проверяет Modules\\Kolvarine.cfg в текущей папке, а если его нет, Kolvarine.cfg рядом с программой.",
    L"Usage: KolvarineCheck.exe [--english] [FILE]\r\n"
    L"Without FILE it checks Modules\\Kolvarine.cfg in the current folder or, when there is none, the "
    L"Kolvarine.cfg beside the program."};
static const Phrase kCannotReadFile = {L"Не удалось прочитать файл ", L"Cannot read the file "};
static const Phrase kWhyMissing = {L": его нет", L": it does not exist"};
static const Phrase kWhyFolder = {L": это папка, а не файл", L": it is a folder, not a file"};
static const Phrase kWhyLocked = {
    L": его держит открытым другая программа; закройте её (симулятор, редактор) и запустите проверку снова",
    L": another program holds it open; close that program (the simulator, an editor) and check again"};
static const Phrase kWhyDenied = {L": нет доступа", L": access denied"};
static const Phrase kWhyTooLarge = {L": он больше мегабайта, это не файл настройки модуля",
                                 L": larger than a megabyte, this is no configuration file of the module"};
static const Phrase kWhyPathTooLong = {
    L": полный путь к нему длиннее 259 символов; перенесите файл в папку с путём покороче",
    L": its full path is longer than 259 characters; move it to a folder with a shorter path"};
static const Phrase kWindowsError = {L": ошибка Windows ", L": Windows error "};
static const Phrase kNoneFound = {L"Нет ни ", L"Found neither "};
static const Phrase kNoneFoundOr = {L", ни ", L" nor "};
static const Phrase kSummary = {L"Ошибок: ", L"Errors: "};
static const Phrase kSummaryNotes = {L", заметок: ", L", notes: "};

// Opens `typed` (relative to the current folder or full) and reads its bytes.
// The profile functions cannot tell a missing file from a folder or a locked
// one, so the file is classified here first.
static OpenResult ReadConfigFile(const char* typed, DWORD* error) {
  *error = 0;
  DWORD length = GetFullPathNameA(typed, MAX_PATH, g_path, NULL);
  if (length >= MAX_PATH || (length == 0 && GetLastError() == ERROR_FILENAME_EXCED_RANGE)) {
    // Nothing was written to g_path: the message names the file as typed.
    lstrcpynA(g_path, typed, MAX_PATH);
    return kPathTooLong;
  }
  if (length == 0) lstrcpynA(g_path, typed, MAX_PATH);
  DWORD attributes = GetFileAttributesA(g_path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return kFolder;
  HANDLE file = CreateFileA(g_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    switch (*error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND: return kMissing;
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION: return kLocked;
      case ERROR_ACCESS_DENIED: return kDenied;
      default: return kUnreadable;
    }
  }
  OpenResult result = kOpened;
  DWORD size = GetFileSize(file, NULL);
  DWORD read = 0;
  if (size == INVALID_FILE_SIZE || size > kMaxFileSize) {
    result = kTooLarge;
  } else if (!ReadFile(file, g_fileBytes, size, &read, NULL)) {
    *error = GetLastError();
    result = *error == ERROR_LOCK_VIOLATION ? kLocked : kUnreadable;
  }
  g_fileSize = static_cast<int>(read);
  CloseHandle(file);
  return result;
}

// Without a file named, the module's own file, else the one beside the program.
static OpenResult ReadDefaultConfigFile(DWORD* error) {
  OpenResult result = ReadConfigFile(kConfigPath, error);
  if (result != kMissing) return result;
  char besideProgram[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, besideProgram, MAX_PATH);
  while (length > 0 && besideProgram[length - 1] != '\\' && besideProgram[length - 1] != '/') --length;
  lstrcpynA(besideProgram + length, kFileBesideProgram, MAX_PATH - length);
  char moduleFile[MAX_PATH];
  lstrcpynA(moduleFile, g_path, MAX_PATH);
  result = ReadConfigFile(besideProgram, error);
  if (result == kMissing) {
    Put(kNoneFound);
    PutAnsi(moduleFile);
    Put(kNoneFoundOr);
    PutAnsi(g_path);
    EndLine();
  }
  return result;
}

static void ReportUnreadable(OpenResult result, DWORD error) {
  Put(kCannotReadFile);
  PutAnsi(g_path);
  switch (result) {
    case kMissing: Put(kWhyMissing); break;
    case kFolder: Put(kWhyFolder); break;
    case kLocked: Put(kWhyLocked); break;
    case kDenied: Put(kWhyDenied); break;
    case kTooLarge: Put(kWhyTooLarge); break;
    case kPathTooLong: Put(kWhyPathTooLong); break;
    default:
      Put(kWindowsError);
      PutNumber(error);
      break;
  }
  EndLine();
}

// Cuts the last name off `path`; returns that name, or null when there is
// no folder above it.
static char* CutLastName(char* path) {
  char* slash = NULL;
  for (char* at = path; *at; ++at) {
    if (*at == '\\' || *at == '/') slash = at;
  }
  if (!slash) return NULL;
  *slash = '\0';
  return slash + 1;
}

// The simulator's Effects folder beside the Modules folder the file sits in;
// a copy of the file elsewhere has no simulator around it.
static const char* FindEffectsFolder() {
  lstrcpynA(g_effectsFolder, g_path, MAX_PATH);
  if (!CutLastName(g_effectsFolder)) return NULL;
  const char* folder = CutLastName(g_effectsFolder);
  if (!folder || !SameName(folder, kModulesFolder)) return NULL;
  int length = lstrlenA(g_effectsFolder);
  lstrcpynA(g_effectsFolder + length, "\\Effects", MAX_PATH - length);
  DWORD attributes = GetFileAttributesA(g_effectsFolder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return NULL;
  return g_effectsFolder;
}

static int CheckFile(const char* typed) {
  DWORD error;
  OpenResult result = typed ? ReadConfigFile(typed, &error) : ReadDefaultConfigFile(&error);
  if (result != kOpened) {
    ReportUnreadable(result, error);
    return kCannotRead;
  }
  PrintModuleValues(g_path);
  EndLine();
  ScanFileBytes(g_fileBytes, g_fileSize);
  CheckSections(g_path, FindEffectsFolder());
  Put(kSummary);
  PutNumber(g_errorCount);
  Put(kSummaryNotes);
  PutNumber(g_noteCount);
  EndLine();
  return g_errorCount > 0 ? kErrorsFound : kNoErrors;
}

int main(int argc, char** argv) {
  OpenOutput();
  const char* typed = NULL;
  bool usage = false;
  for (int index = 1; index < argc; ++index) {
    if (lstrcmpA(argv[index], "--english") == 0) {
      g_language = kEnglish;
    } else if (argv[index][0] == '-' || lstrcmpA(argv[index], "/?") == 0 || typed) {
      usage = true;
    } else {
      typed = argv[index];
    }
  }
  int status = kCannotRead;
  if (usage) {
    Put(kUsage);
    EndLine();
  } else {
    status = CheckFile(typed);
  }
  // Started by a double click, the window would close before it is read.
  if (OwnsConsoleWindow()) WaitForEnter();
  return status;
}
