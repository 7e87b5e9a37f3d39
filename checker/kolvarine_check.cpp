// KolvarineCheck.exe [--english] ["FILE"]: reads Kolvarine.cfg as the module
// does and tells the pilot what the module will use and what it ignores.
// Exit status: 0 no errors, 1 errors, 2 the file cannot be read (or the
// command line names no one file).
#include <windows.h>

#include "checker/check_output.h"
#include "checker/config_checks.h"
#include "checker/config_scan.h"
#include "checker/config_values.h"
#include "checker/name_hint.h"
#include "engine/text.h"
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
static char g_copyPath[MAX_PATH];
// The pieces of a path with spaces given without quotes, joined again.
static char g_joinedPath[MAX_PATH];

static const Phrase kUsage = {
    L"Использование: KolvarineCheck.exe [--english] [\"ФАЙЛ\"]\r\n"
    L"Без ФАЙЛА проверяет Modules\\Kolvarine.cfg в текущей папке, а если его нет, Kolvarine.cfg рядом с программой.\r\n"
    L"Путь с пробелами заключайте в кавычки: KolvarineCheck.exe \"D:\\Мои игры\\Modules\\Kolvarine.cfg\"",
    L"Usage: KolvarineCheck.exe [--english] [\"FILE\"]\r\n"
    L"Without FILE it checks Modules\\Kolvarine.cfg in the current folder or, when there is none, the "
    L"Kolvarine.cfg beside the program.\r\n"
    L"Put a path with spaces in quotes: KolvarineCheck.exe \"D:\\My Games\\Modules\\Kolvarine.cfg\""};
static const Phrase kSplitPath = {
    L"Путь к файлу пришёл по частям: в нём есть пробелы, а кавычек нет. Заключите путь в кавычки:",
    L"The file's path came in pieces: it has spaces and no quotes. Put the path in quotes:"};
static const Phrase kFileLine = {L"Файл: ", L"File: "};
static const Phrase kCopyLine = {
    L"Копия в VirtualStore (её читает симулятор, запущенный без «Запуск от имени администратора»): ",
    L"VirtualStore copy (what a simulator started without \"Run as administrator\" reads): "};
static const Phrase kCopyNote = {L"Windows хранит копию этого файла в VirtualStore: ",
                                 L"Windows keeps a copy of this file in the VirtualStore: "};
static const Phrase kCopyNoteTail = {
    L". Симулятор, запущенный без «Запуск от имени администратора», читает копию, и правка этого файла на него не "
    L"действует: правьте копию или удалите её. Ниже проверена копия",
    L". A simulator started without \"Run as administrator\" reads the copy, and edits to this file never reach it: "
    L"edit the copy or delete it. The copy is checked below"};
static const Phrase kCodePage = {L"в Windows для программ не в Юникоде выбрана кодовая страница ",
                                 L"Windows uses code page "};
static const Phrase kCodePageTail = {
    L", а тексты модуля написаны в кодовой странице 1251 (кириллица): меню «Зоркрыл», строки списка «Конфигурация», "
    L"описание выброски, надпись с числом десантников и сообщения на экране будут нечитаемы. Исправьте это в Windows: "
    L"Панель управления → «Региональные стандарты» (в Windows 7, Vista и XP — «Язык и региональные стандарты») → "
    L"вкладка «Дополнительно» → «Язык программ, не поддерживающих Юникод» → «Изменить язык системы» → «Русский»; "
    L"там же снимите флажок «Бета-версия: Использовать Юникод (UTF-8)…», если он есть; перезагрузите Windows",
    L" for non-Unicode programs, but the module's texts are in code page 1251 (Cyrillic): the \"Зоркрыл\" menu, the "
    L"entries of the \"Конфигурация\" list, the drop description, the count label and the on-screen messages will be "
    L"unreadable. Mend it in Windows: Control Panel → Region (Windows 7 and Vista: Region and Language; XP: Regional "
    L"and Language Options) → Administrative tab (XP: Advanced) → Language for non-Unicode programs → Change system "
    L"locale → Russian; uncheck \"Beta: Use Unicode UTF-8 for worldwide language support\" there if it is there; "
    L"restart Windows"};
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
static const Phrase kSummaryNotes = {L", замечаний: ", L", notes: "};

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
  // The high half counts too: a file of 4 GiB and 20 bytes is no 20-byte
  // file. A failure gives INVALID_FILE_SIZE, itself above the limit.
  DWORD sizeHigh = 0;
  DWORD size = GetFileSize(file, &sizeHigh);
  DWORD read = 0;
  if (sizeHigh != 0 || size > kMaxFileSize) {
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

// The copy Windows reads and writes instead of the file for a program it
// virtualizes (Vista and later, UAC on, a 32-bit program without a manifest
// run without elevation): %LOCALAPPDATA%\VirtualStore and the file's long
// path without its drive. XP has neither the variable nor the store.
static bool FindVirtualStoreCopy() {
  char store[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", store, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  char longPath[MAX_PATH];
  DWORD longLength = GetLongPathNameA(g_path, longPath, MAX_PATH);
  if (longLength == 0 || longLength >= MAX_PATH) lstrcpynA(longPath, g_path, MAX_PATH);
  // Only files on a drive letter are virtualized.
  if (longPath[0] == '\0' || longPath[1] != ':' || longPath[2] != '\\') return false;
  // "\VirtualStore" takes the place of the drive's two characters; a cut
  // path would name another file.
  if (lstrlenA(store) + lstrlenA(longPath) + 11 >= MAX_PATH) return false;
  FormatText(g_copyPath, MAX_PATH, "%s\\VirtualStore%s", store, longPath + 2);
  DWORD attributes = GetFileAttributesA(g_copyPath);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void CheckReadFile(const Phrase& label, const char* effectsFolder) {
  Put(label);
  PutAnsi(g_path);
  EndLine();
  PrintModuleValues(g_path);
  EndLine();
  ScanFileBytes(g_fileBytes, g_fileSize);
  CheckSections(g_path, effectsFolder);
}

// The module's texts are Windows-1251; another ANSI code page garbles them.
static void NoteCodePage() {
  UINT codePage = GetACP();
  if (codePage == 1251) return;
  BeginFinding(kNote, NULL, NULL);
  Put(kCodePage);
  PutNumber(codePage);
  Put(kCodePageTail);
  EndLine();
}

static int CheckFile(const char* typed) {
  DWORD error;
  OpenResult result = typed ? ReadConfigFile(typed, &error) : ReadDefaultConfigFile(&error);
  bool checked = result == kOpened;
  const char* effectsFolder = NULL;
  if (checked) {
    effectsFolder = FindEffectsFolder();
    CheckReadFile(kFileLine, effectsFolder);
  } else {
    ReportUnreadable(result, error);
  }
  if (result != kPathTooLong && FindVirtualStoreCopy()) {
    // The Effects folder is the real one: the store holds only what was written.
    if (!effectsFolder) effectsFolder = FindEffectsFolder();
    BeginFinding(kNote, NULL, NULL);
    Put(kCopyNote);
    PutAnsi(g_copyPath);
    Put(kCopyNoteTail);
    EndLine();
    EndLine();
    DWORD copyError;
    OpenResult copyResult = ReadConfigFile(g_copyPath, &copyError);
    if (copyResult == kOpened) {
      CheckReadFile(kCopyLine, effectsFolder);
      checked = true;
    } else {
      ReportUnreadable(copyResult, copyError);
    }
  }
  if (!checked) return kCannotRead;
  NoteCodePage();
  Put(kSummary);
  PutNumber(g_errorCount);
  Put(kSummaryNotes);
  PutNumber(g_noteCount);
  EndLine();
  if (result != kOpened) return kCannotRead;
  return g_errorCount > 0 ? kErrorsFound : kNoErrors;
}

// A path with spaces typed without quotes arrives as several arguments.
static void ReportSplitPath() {
  Put(kSplitPath);
  EndLine();
  Put(L"  KolvarineCheck.exe \"");
  PutAnsi(g_joinedPath);
  Put(L"\"");
  EndLine();
  EndLine();
}

int main(int argc, char** argv) {
  OpenOutput();
  const char* typed = NULL;
  int pieces = 0;
  bool usage = false;
  for (int index = 1; index < argc; ++index) {
    if (lstrcmpA(argv[index], "--english") == 0) {
      g_language = kEnglish;
    } else if (argv[index][0] == '-' || lstrcmpA(argv[index], "/?") == 0) {
      usage = true;
    } else {
      typed = argv[index];
      int length = lstrlenA(g_joinedPath);
      if (pieces > 0 && length < MAX_PATH - 1) g_joinedPath[length++] = ' ';
      lstrcpynA(g_joinedPath + length, typed, MAX_PATH - length);
      ++pieces;
    }
  }
  int status = kCannotRead;
  if (pieces > 1) {
    ReportSplitPath();
    usage = true;
  }
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
