// A throwaway simulator folder for each test, and the module's config file in it.
#include "simhost/sim_internal.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const char kConfigPath[] = "Modules\\Kolvarine.cfg";

std::string g_tempFolder;
std::string g_previousDirectory;

std::string CurrentDirectory() {
  char path[MAX_PATH] = "";
  const DWORD length = GetCurrentDirectoryA(sizeof(path), path);
  return length > 0 && length < sizeof(path) ? std::string(path) : std::string();
}

// Read-only files are made writable first: a test may leave one behind.
void DeleteTree(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

// Process id plus a counter: unique within a run, and parallel test programs
// do not collide; an existing folder just moves the counter on.
std::string CreateUniqueFolder() {
  char base[MAX_PATH] = "";
  if (GetTempPathA(sizeof(base), base) == 0) return std::string();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[64];
    snprintf(name, sizeof(name), "kolvarine-sim-%lu-%u", GetCurrentProcessId(), ++counter);
    const std::string folder = std::string(base) + name;
    if (CreateDirectoryA(folder.c_str(), NULL)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
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
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((base + kCopiesPrefix + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD owner = strtoul(entry.cFileName + sizeof(kCopiesPrefix) - 1, NULL, 10);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && owner != GetCurrentProcessId() && !ProcessAlive(owner))
      DeleteTree(base + entry.cFileName);
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

std::string SimEnterTempFolder() {
  if (!g_tempFolder.empty()) SimLeaveTempFolder();
  const std::string folder = CreateUniqueFolder();
  if (folder.empty()) return folder;
  CreateDirectoryA((folder + "\\Modules").c_str(), NULL);
  g_previousDirectory = CurrentDirectory();
  SetCurrentDirectoryA(folder.c_str());
  g_tempFolder = folder;
  return folder;
}

void SimLeaveTempFolder() {
  if (g_tempFolder.empty()) return;
  // Leave it first: Windows will not remove the current directory.
  SetCurrentDirectoryA(g_previousDirectory.c_str());
  DeleteTree(g_tempFolder);
  g_tempFolder.clear();
}

// The profile functions cache the last file read and notice a change only by
// its time stamp, which two quick rewrites can share: make them read anew.
static void ForgetCachedProfile() { WritePrivateProfileStringA(NULL, NULL, NULL, kConfigPath); }

void SimWriteConfig(const std::string& text) {
  HANDLE file = CreateFileA(kConfigPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (!text.empty()) WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
  CloseHandle(file);
  ForgetCachedProfile();
}

void SimDeleteConfig() {
  DeleteFileA(kConfigPath);
  ForgetCachedProfile();
}

std::string SimReadConfig() {
  HANDLE file = CreateFileA(kConfigPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
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
