#include "ui/module_config.h"

#include <windows.h>

#include "engine/text.h"

const char kConfigPath[] = "Modules/Kolvarine.cfg";
const char kGeneralSection[] = "General";

ModuleConfig g_moduleConfig;

// The full path, once resolved; empty until then, or when it could not be.
static char g_configPath[MAX_PATH];

static const char* const kKeyNames[kConfigKeyCount] = {
    "realism", "visual_view", "effect_name", "position_x", "position_y", "position_z",
};

// Static: the effect-name buffer must outlive every slot that points at it.
static char g_configValues[kConfigKeyCount][kConfigValueSize];

// A file dialog of the simulator or of another add-on moves the current
// folder later, whatever its flags say; a relative path would then lead
// nowhere. Resolved in UTF-16 and spelt in the ANSI code page only when
// nothing is lost: the profile functions take ANSI paths, and a folder name
// the code page cannot spell still works relative.
void ResolveConfigPath() {
  WCHAR wide[MAX_PATH];
  const DWORD length = GetFullPathNameW(L"Modules\\Kolvarine.cfg", MAX_PATH, wide, NULL);
  BOOL lossy = FALSE;
  // UTF-8 takes neither flag nor default character, and spells every name.
  const bool utf8 = GetACP() == CP_UTF8;
  if (length == 0 || length >= MAX_PATH ||
      WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, g_configPath, MAX_PATH, NULL,
                          utf8 ? NULL : &lossy) == 0 ||
      lossy) {
    g_configPath[0] = '\0';
  }
}

const char* ConfigPath() {
  return g_configPath[0] ? g_configPath : kConfigPath;
}

const char* ReadConfigText(const char* section, ConfigKey key) {
  return ReadConfigTextFrom(ConfigPath(), section, key);
}

const char* ReadConfigTextFrom(const char* path, const char* section, ConfigKey key) {
  GetPrivateProfileStringA(section, kKeyNames[key], "", g_configValues[key], kConfigValueSize, path);
  return g_configValues[key];
}

const char* ConfigKeyName(ConfigKey key) {
  return kKeyNames[key];
}

int ReadConfigInteger(const char* section, ConfigKey key) {
  return ReadConfigIntegerFrom(ConfigPath(), section, key);
}

int ReadConfigIntegerFrom(const char* path, const char* section, ConfigKey key) {
  return ParseInteger(ReadConfigTextFrom(path, section, key));
}

const char* ReadEffectName(const char* section) {
  return ReadConfigText(section, kKeyEffectName);
}

const char* EffectNameBuffer() {
  return g_configValues[kKeyEffectName];
}

void ReadGeneralSwitches() {
  g_moduleConfig.realism = ReadConfigInteger(kGeneralSection, kKeyRealism);
  g_moduleConfig.visualView = ReadConfigInteger(kGeneralSection, kKeyVisualView);
}

void WriteVisualView(bool checked) {
  WritePrivateProfileStringA(kGeneralSection, kKeyNames[kKeyVisualView], checked ? "1" : "0", ConfigPath());
}
