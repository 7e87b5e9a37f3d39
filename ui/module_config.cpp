#include "ui/module_config.h"

#include <windows.h>

#include "engine/text.h"

const char kConfigPath[] = "Modules/Kolvarine.cfg";
const char kGeneralSection[] = "General";

ModuleConfig g_moduleConfig;

static const char* const kKeyNames[kConfigKeyCount] = {
    "realism", "visual_view", "effect_name", "position_x", "position_y", "position_z",
};

// Static: the effect-name buffer must outlive every slot that points at it.
static char g_configValues[kConfigKeyCount][kConfigValueSize];

const char* ReadConfigText(const char* section, ConfigKey key) {
  return ReadConfigTextFrom(kConfigPath, section, key);
}

const char* ReadConfigTextFrom(const char* path, const char* section, ConfigKey key) {
  GetPrivateProfileStringA(section, kKeyNames[key], "", g_configValues[key], kConfigValueSize, path);
  return g_configValues[key];
}

const char* ConfigKeyName(ConfigKey key) {
  return kKeyNames[key];
}

int ReadConfigInteger(const char* section, ConfigKey key) {
  return ReadConfigIntegerFrom(kConfigPath, section, key);
}

int ReadConfigIntegerFrom(const char* path, const char* section, ConfigKey key) {
  return ParseInteger(ReadConfigTextFrom(path, section, key));
}

char* EffectNameBuffer() {
  return g_configValues[kKeyEffectName];
}

void ReadGeneralSwitches() {
  g_moduleConfig.realism = ReadConfigInteger(kGeneralSection, kKeyRealism);
  g_moduleConfig.visualView = ReadConfigInteger(kGeneralSection, kKeyVisualView);
}

void WriteVisualView(bool checked) {
  WritePrivateProfileStringA(kGeneralSection, kKeyNames[kKeyVisualView], checked ? "1" : "0", kConfigPath);
}
