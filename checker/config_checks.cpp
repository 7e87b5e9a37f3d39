#include "checker/config_checks.h"

#include <windows.h>

#include "checker/check_output.h"
#include "checker/config_values.h"
#include "checker/name_hint.h"
#include "engine/aircraft_presets.h"
#include "ui/module_config.h"

// Enumerations of sections and keys; a Kolvarine.cfg needs a few hundred bytes.
static const int kListSize = 32768;

static char g_sectionNames[kListSize];
static char g_keyNames[kListSize];
static const char* g_effectsFolder;
// Per aircraft: whether its section and its effect_name key stand in the file.
static bool g_sectionFound[kPresetCount];
static bool g_effectNameFound[kPresetCount];

static const Phrase kUnknownSection = {L"модуль не читает этот раздел", L"the module never reads this section"};
static const Phrase kUnknownKey = {L"модуль не читает этот ключ в этом разделе",
                                   L"the module never reads this key in this section"};
static const Phrase kDidYouMean = {L"; возможно, имелось в виду ", L"; did you mean "};
static const Phrase kDidYouMeanTail = {L"", L"?"};
static const Phrase kKeyAgain = {L"ключ повторён; модуль читает только первый: ",
                                 L"key given again; the module reads only the first: "};

static bool SameName(const char* a, const char* b) {
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

static int FindPreset(const char* section) {
  for (int index = 0; index < kPresetCount; ++index) {
    if (SameName(section, kAircraftPresets[index].section)) return index;
  }
  return -1;
}

// The keys each kind of section has, in the order the module reads them.
static const ConfigKey kGeneralKeys[] = {kKeyRealism, kKeyVisualView};
static const ConfigKey kAircraftKeys[] = {kKeyEffectName, kKeyPositionX, kKeyPositionY, kKeyPositionZ};

static void CheckKeys(const char* path, const char* section, int preset) {
  const ConfigKey* known = preset < 0 ? kGeneralKeys : kAircraftKeys;
  int knownCount = preset < 0 ? 2 : 4;
  const char* names[4];
  for (int index = 0; index < knownCount; ++index) names[index] = ConfigKeyName(known[index]);
  bool seen[kConfigKeyCount] = {};
  GetPrivateProfileStringA(section, NULL, "", g_keyNames, kListSize, path);
  for (const char* key = g_keyNames; *key; key += lstrlenA(key) + 1) {
    if (*key == ';') continue;  // a comment, to the module as to a person
    int match = -1;
    for (int index = 0; index < knownCount; ++index) {
      if (SameName(key, names[index])) match = index;
    }
    if (match < 0) {
      BeginFinding(kError, section, key);
      Put(kUnknownKey);
      const char* hint = NearestName(key, names, knownCount);
      if (hint) {
        Put(kDidYouMean);
        PutAnsi(hint);
        Put(kDidYouMeanTail);
      }
      EndLine();
    } else if (seen[known[match]]) {
      BeginFinding(kError, section, key);
      Put(kKeyAgain);
      PutQuoted(ReadConfigTextFrom(path, section, known[match]));
      EndLine();
    } else {
      seen[known[match]] = true;
      if (known[match] == kKeyEffectName) g_effectNameFound[preset] = true;
      CheckValue(path, section, key, known[match], preset, g_effectsFolder);
    }
  }
}

static void CheckUnknownSection(const char* section) {
  const char* names[kPresetCount + 1];
  names[0] = kGeneralSection;
  for (int index = 0; index < kPresetCount; ++index) names[index + 1] = kAircraftPresets[index].section;
  BeginFinding(kError, section, NULL);
  Put(kUnknownSection);
  const char* hint = NearestName(section, names, kPresetCount + 1);
  if (hint) {
    Put(kDidYouMean);
    Put(L"[");
    PutAnsi(hint);
    Put(L"]");
    Put(kDidYouMeanTail);
  }
  EndLine();
}

static void NoteMissingAircraft() {
  for (int index = 0; index < kPresetCount; ++index) {
    if (g_sectionFound[index] && g_effectNameFound[index]) continue;
    const char* key = g_sectionFound[index] ? ConfigKeyName(kKeyEffectName) : NULL;
    NoteNoJumpers(kAircraftPresets[index].section, key, index);
  }
}

void CheckSections(const char* path, const char* effectsFolder) {
  g_effectsFolder = effectsFolder;
  GetPrivateProfileSectionNamesA(g_sectionNames, kListSize, path);
  for (const char* section = g_sectionNames; *section; section += lstrlenA(section) + 1) {
    // A section given twice is listed twice; the byte scan reports it, and
    // the profile functions read only the first.
    bool repeated = false;
    for (const char* earlier = g_sectionNames; earlier < section; earlier += lstrlenA(earlier) + 1) {
      if (SameName(earlier, section)) repeated = true;
    }
    if (repeated) continue;
    int preset = FindPreset(section);
    if (preset >= 0) {
      g_sectionFound[preset] = true;
      CheckKeys(path, section, preset);
    } else if (SameName(section, kGeneralSection)) {
      CheckKeys(path, section, -1);
    } else {
      CheckUnknownSection(section);
    }
  }
  NoteMissingAircraft();
}

