// The DLL as the simulator's loader sees it: its exports, its two records and
// its version record.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "host/module_exports.h"
#include "resources/version.h"
#include "tests/fixtures.h"

class ExportsTest : public SimulatorTest {
 protected:
  ExportsTest() { loadOptions_.installServices = false; }  // the records before the simulator fills them
  HostImportEntry* Table() {
    return reinterpret_cast<HostImportEntry*>(GetProcAddress(module_, "ImportTable"));
  }
};

static std::set<std::string> ExportedNames(HMODULE module) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::set<std::string> names;
  if (!directory.VirtualAddress) return names;
  IMAGE_EXPORT_DIRECTORY* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  DWORD* nameRvas = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<char*>(base + nameRvas[i]));
  EXPECT_EQ(exports->NumberOfNames, exports->NumberOfFunctions) << "exports without names";
  return names;
}

TEST_F(ExportsTest, OnlyTheTwoRecordsAreExportedUnderTheirPlainNames) {
  std::set<std::string> expected = {"ImportTable", "Linkage"};
  EXPECT_EQ(expected, ExportedNames(module_));
}

TEST_F(ExportsTest, ImportTableListsTheSeventeenServiceIdsWithNullPointers) {
  const DWORD ids[kImportTableEntries] = {0x01, 0x17, 0x12, 0x2C, 0x80000000, 0x0D, 0x02, 0x03, 0x23,
                                          0x0F, 0x19, 0x27, 0x14, 0x2E, 0x1C, 0x0A, 0x00};
  HostImportEntry* table = Table();
  ASSERT_TRUE(table != nullptr);
  for (int i = 0; i < kImportTableEntries; ++i) {
    EXPECT_EQ(ids[i], table[i].serviceId) << "entry " << i + 1;
    EXPECT_TRUE(table[i].service == nullptr) << "entry " << i + 1;
  }
}

TEST_F(ExportsTest, SimulatorFillsExactlyTheThreeServicesTheModuleUses) {
  HostImportEntry* table = Table();
  SimInstallServices(table);
  for (int i = 0; i < kImportTableEntries; ++i) {
    bool used = table[i].serviceId == 0x0F || table[i].serviceId == 0x19 || table[i].serviceId == 0x0A;
    EXPECT_EQ(used, table[i].service != nullptr) << "entry " << i + 1;
  }
}

TEST_F(ExportsTest, LinkageHoldsTheSameDoNothingFunctionTwice) {
  ModuleLinkage* linkage = reinterpret_cast<ModuleLinkage*>(GetProcAddress(module_, "Linkage"));
  ASSERT_TRUE(linkage != nullptr);
  EXPECT_EQ(0u, linkage->reserved0);
  ASSERT_TRUE(linkage->initialise != nullptr);
  EXPECT_EQ(linkage->initialise, linkage->shutdown);
  EXPECT_EQ(0u, linkage->reserved3);
  EXPECT_EQ(0u, linkage->reserved4);
  EXPECT_EQ(0x0900u, linkage->version);
  EXPECT_TRUE(linkage->reserved6 == nullptr);
  // The function lies inside the module and does nothing the simulator can see.
  BYTE* base = reinterpret_cast<BYTE*>(module_);
  BYTE* function = reinterpret_cast<BYTE*>(linkage->initialise);
  EXPECT_GT(function, base);
  linkage->initialise();
  linkage->shutdown();
  EXPECT_TRUE(SimLog().empty());
}

static std::string VersionString(const std::vector<BYTE>& info, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  std::string path = std::string("\\StringFileInfo\\041904b0\\") + name;
  if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) return "<missing>";
  return value;
}

// The test's name carries the version it checks, as resources/version.h gives it.
#define VERSION_RECORD_TEST_JOINED(major, minor, patch, build) \
  VersionRecordNamesKolvarin##major##_##minor##_##patch##_##build##InRussian
#define VERSION_RECORD_TEST(major, minor, patch, build) VERSION_RECORD_TEST_JOINED(major, minor, patch, build)

TEST_F(ExportsTest, VERSION_RECORD_TEST(KOLVARINE_VERSION_MAJOR, KOLVARINE_VERSION_MINOR, KOLVARINE_VERSION_PATCH,
                                        KOLVARINE_VERSION_BUILD)) {
  std::string path = ModuleDllPath();
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(KOLVARINE_VERSION_MINOR, KOLVARINE_VERSION_MAJOR)), fixed->dwFileVersionMS);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(KOLVARINE_VERSION_BUILD, KOLVARINE_VERSION_PATCH)), fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  EXPECT_EQ(0u, fixed->dwFileType);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  EXPECT_EQ(0x0419, translation[0]);
  EXPECT_EQ(1200, translation[1]);
  for (const char* name : {"FileDescription", "InternalName", "OriginalFilename", "ProductName"}) {
    EXPECT_EQ("Kolvarin", VersionString(info, name)) << name;
  }
  for (const char* name : {"FileVersion", "ProductVersion"}) {
    EXPECT_EQ(KOLVARINE_VERSION_TEXT, VersionString(info, name)) << name;
  }
}
