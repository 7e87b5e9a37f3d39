// The module's configuration file, "Modules\Kolvarine.cfg" in the simulator's
// folder, read and written through the Windows profile functions.
#pragma once

// Relative to the simulator's folder, as KolvarineCheck.exe reads it there.
extern const char kConfigPath[];
extern const char kGeneralSection[];

// Longest value read from the file, terminator included.
const int kConfigValueSize = 260;

// The keys the module reads; each keeps the last text read in a buffer of its own.
enum ConfigKey {
  kKeyRealism,
  kKeyVisualView,
  kKeyEffectName,
  kKeyPositionX,
  kKeyPositionY,
  kKeyPositionZ,
  kConfigKeyCount
};

// The two switches from section "General", read at each dialog creation.
struct ModuleConfig {
  int realism;     // 1 turns the loading gate on
  int visualView;  // 1 checks the visualisation box at creation
};

extern ModuleConfig g_moduleConfig;

// Fixes the file's place once, at attach, against the current folder, which
// is then the simulator's own. Until then, and where the full path does not
// fit or cannot be spelt in the ANSI code page, the path stays relative.
void ResolveConfigPath();
// The path every read and the write use.
const char* ConfigPath();

// Reads `key` of `section` into that key's buffer and returns the buffer;
// a missing file, section or key gives the empty string.
const char* ReadConfigText(const char* section, ConfigKey key);
// The same read from the file at `path`: KolvarineCheck.exe reads the
// pilot's file exactly as the module would.
const char* ReadConfigTextFrom(const char* path, const char* section, ConfigKey key);
const char* ConfigKeyName(ConfigKey key);
int ReadConfigInteger(const char* section, ConfigKey key);
int ReadConfigIntegerFrom(const char* path, const char* section, ConfigKey key);

// Reads the section's effect name into the effect-name buffer and returns
// that buffer: the very pointer the programmed slots carry, so it lives as
// long as the module.
const char* ReadEffectName(const char* section);
// The effect-name buffer, to tell the module's slots from the simulator's.
const char* EffectNameBuffer();

// Reads "realism" and then "visual_view" from "General" and stores both.
void ReadGeneralSwitches();

// Remembers the visualisation box: "1" when checked, "0" when clear.
void WriteVisualView(bool checked);
