// A throwaway simulator folder for each test, and the module's config file in it.
#include "simhost/sim_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const wchar_t kConfigName[] = L"Modules\\Kolvarine.cfg";
const char kElsewhereConfig[] =
    "[General]\r\nrealism=0\r\nvisual_view=0\r\n"
    "[user]\r\neffect_name=elsewhere\r\n[mi8]\r\neffect_name=elsewhere\r\n[an2]\r\neffect_name=elsewhere\r\n"
    "[an12]\r\neffect_name=elsewhere\r\n[an22]\r\neffect_name=elsewhere\r\n[an26]\r\neffect_name=elsewhere\r\n"
    "[il76]\r\neffect_name=elsewhere\r\n";

// Wide: the simulator's folder may have a name the ANSI code page cannot spell.
std::wstring g_tempFolder;
std::wstring g_previousDirectory;

std::wstring CurrentDirectory() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
  return length > 0 && length < MAX_PATH ? std::wstring(path) : std::wstring();
}

std::string Narrow(const std::wstring& text) {
  char narrow[MAX_PATH * 2] = "";
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, sizeof(narrow), NULL, NULL);
  return narrow;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
}

// Read-only files are made writable first: a test may leave one behind.
void DeleteTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

// Process id plus a counter: unique within a run, and parallel test programs
// do not collide; an existing folder just moves the counter on.
std::wstring CreateUniqueFolder() {
  wchar_t base[MAX_PATH] = L"";
  if (GetTempPathW(MAX_PATH, base) == 0) return std::wstring();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    wchar_t name[64];
    swprintf(name, 64, L"kolvarine-sim-%lu-%u", GetCurrentProcessId(), ++counter);
    const std::wstring folder = std::wstring(base) + name;
    if (CreateDirectoryW(folder.c_str(), NULL)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  }
  return std::wstring();
}

// Copies of the module loaded by this process: a folder of its own, which a
// later process removes once this one has ended and nothing maps the files.
const char kCopiesPrefix[] = "kolvarine-modules-";
std::string g_copiesFolder;

bool ProcessAlive(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == NULL) return false;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

void SweepEndedProcessesCopies(const std::string& base) {
  // The copies' folders have plain names.
  const std::wstring wideBase(base.begin(), base.end());
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((base + kCopiesPrefix + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD owner = strtoul(entry.cFileName + sizeof(kCopiesPrefix) - 1, NULL, 10);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && owner != GetCurrentProcessId() && !ProcessAlive(owner))
      DeleteTree(wideBase + std::wstring(entry.cFileName, entry.cFileName + strlen(entry.cFileName)));
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

}  // namespace

std::string SimFreshModuleCopy(const char* path) {
  if (g_copiesFolder.empty()) {
    char base[MAX_PATH] = "";
    if (GetTempPathA(sizeof(base), base) == 0) return std::string();
    SweepEndedProcessesCopies(base);
    char name[64];
    snprintf(name, sizeof(name), "%s%lu", kCopiesPrefix, GetCurrentProcessId());
    const std::string folder = std::string(base) + name;
    if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    g_copiesFolder = folder;
  }
  static unsigned counter = 0;
  char name[64];
  snprintf(name, sizeof(name), "\\Kolvarine-%u.dll", ++counter);
  const std::string copy = g_copiesFolder + name;
  return CopyFileA(path, copy.c_str(), FALSE) ? copy : std::string();
}

// The module fixes its file's place when it attaches; the stand-in keeps its
// own hold on the simulator's folder, whatever the current folder is later.
std::string SimEnterTempFolder(bool nameTheCodePageCannotSpell) {
  if (!g_tempFolder.empty()) SimLeaveTempFolder();
  std::wstring folder = CreateUniqueFolder();
  if (folder.empty()) return std::string();
  if (nameTheCodePageCannotSpell) {
    // Greek and Japanese: no single ANSI code page spells both.
    const std::wstring renamed = folder + L"-\x03b1\x03b5\x03c1\x03bf-\x98db\x884c";
    if (!MoveFileW(folder.c_str(), renamed.c_str())) return std::string();
    folder = renamed;
  }
  CreateDirectoryW((folder + L"\\Modules").c_str(), NULL);
  g_previousDirectory = CurrentDirectory();
  SetCurrentDirectoryW(folder.c_str());
  g_tempFolder = folder;
  return Narrow(folder);
}

void SimLeaveTempFolder() {
  if (g_tempFolder.empty()) return;
  // Leave it first: Windows will not remove the current directory.
  SetCurrentDirectoryW(g_previousDirectory.c_str());
  DeleteTree(g_tempFolder);
  g_tempFolder.clear();
}

// As a file dialog of the simulator or of another add-on leaves it: another
// folder, with a Modules folder and a configuration file of its own.
void SimMoveCurrentFolder() {
  if (g_tempFolder.empty()) return;
  const std::wstring elsewhere = g_tempFolder + L"\\elsewhere";
  CreateDirectoryW(elsewhere.c_str(), NULL);
  CreateDirectoryW((elsewhere + L"\\Modules").c_str(), NULL);
  WriteBytes(elsewhere + L"\\" + kConfigName, kElsewhereConfig);
  SetCurrentDirectoryW(elsewhere.c_str());
}

void SimReturnToSimulatorFolder() {
  if (!g_tempFolder.empty()) SetCurrentDirectoryW(g_tempFolder.c_str());
}

static std::wstring ConfigPath() { return g_tempFolder + L"\\" + kConfigName; }

// The profile functions cache the last file read and notice a change only by
// its time stamp, which two quick rewrites can share: make them read anew.
static void ForgetCachedProfile() { WritePrivateProfileStringW(NULL, NULL, NULL, ConfigPath().c_str()); }

void SimWriteConfig(const std::string& text) {
  WriteBytes(ConfigPath(), text);
  // Each rewrite gets a write time of its own, later than the last.
  static ULONGLONG stamp = 126227808000000000ull;  // 2001-01-01, never a real write time here
  HANDLE file = CreateFileW(ConfigPath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    stamp += 10000000;
    FILETIME time = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
    SetFileTime(file, NULL, NULL, &time);
    CloseHandle(file);
  }
  ForgetCachedProfile();
}

void SimDeleteConfig() {
  DeleteFileW(ConfigPath().c_str());
  ForgetCachedProfile();
}

std::string SimReadConfig() {
  HANDLE file = CreateFileW(ConfigPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  const DWORD size = GetFileSize(file, NULL);
  if (size != INVALID_FILE_SIZE && size > 0) {
    text.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, &text[0], size, &read, NULL)) read = 0;
    text.resize(read);
  }
  CloseHandle(file);
  return text;
}
