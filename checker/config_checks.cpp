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
// Per aircraft: whether its section stands in the file and gives an effect
// name, and the section's and the key's names as the file spells them.
static bool g_sectionFound[kPresetCount];
static bool g_effectNameSet[kPresetCount];
static char g_sectionAsWritten[kPresetCount][kConfigValueSize];
static char g_effectKeyAsWritten[kPresetCount][kConfigValueSize];

static const Phrase kUnknownSection = {L"такого раздела модуль не знает и не читает",
                                       L"the module never reads this section"};
static const Phrase kUnknownKey = {L"такого ключа в этом разделе модуль не знает и не читает",
                                   L"the module never reads this key in this section"};
static const Phrase kDidYouMean = {L"; может быть, имелось в виду ", L"; did you mean "};
static const Phrase kDidYouMeanTail = {L"?", L"?"};
static const Phrase kKeyAgain = {L"ключ задан ещё раз; модуль читает только первое значение: ",
                                 L"key given again; the module reads only the first: "};

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
      CheckValue(path, section, key, known[match], g_effectsFolder);
      if (known[match] == kKeyEffectName) {
        // An empty name is no name: the note below names the key as written.
        g_effectNameSet[preset] = *ReadConfigTextFrom(path, section, kKeyEffectName) != '\0';
        lstrcpynA(g_effectKeyAsWritten[preset], key, kConfigValueSize);
      }
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
    if (!g_sectionFound[index]) {
      NoteNoJumpers(kAircraftPresets[index].section, NULL, index);
    } else if (!g_effectNameSet[index]) {
      const char* key = *g_effectKeyAsWritten[index] ? g_effectKeyAsWritten[index] : ConfigKeyName(kKeyEffectName);
      NoteNoJumpers(g_sectionAsWritten[index], key, index);
    }
  }
}

void CheckSections(const char* path, const char* effectsFolder) {
  g_effectsFolder = effectsFolder;
  // A second file (the VirtualStore copy) starts with nothing found.
  ZeroMemory(g_sectionFound, sizeof(g_sectionFound));
  ZeroMemory(g_effectNameSet, sizeof(g_effectNameSet));
  ZeroMemory(g_effectKeyAsWritten, sizeof(g_effectKeyAsWritten));
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
      lstrcpynA(g_sectionAsWritten[preset], section, kConfigValueSize);
      CheckKeys(path, section, preset);
    } else if (SameName(section, kGeneralSection)) {
      CheckKeys(path, section, -1);
    } else {
      CheckUnknownSection(section);
    }
  }
  NoteMissingAircraft();
}

