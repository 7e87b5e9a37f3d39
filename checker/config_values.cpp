#include "checker/config_values.h"

#include <windows.h>

#include "checker/check_output.h"
#include "engine/aircraft_presets.h"
#include "engine/text.h"

// Where a value read by the module differs from the number written.
enum NumberReading { kAsWritten, kFraction, kTrailingText, kNoDigits, kBeyond32Bits };

// Long enough to measure an effect name that the module cuts.
static const int kWrittenValueSize = 4096;

static const Phrase kModuleReads = {L"Модуль прочтёт:", L"The module will read:"};
static const Phrase kSwitchOn = {L" (вкл.)", L" (on)"};
static const Phrase kSwitchOff = {L" (выкл.)", L" (off)"};
static const Phrase kEffect = {L"эффект ", L"effect "};
static const Phrase kNoEffect = {L"эффект не задан", L"no effect"};
static const Phrase kWhyFraction = {L" — не целое число", L" is not a whole number"};
static const Phrase kWhyTrailingText = {L": после числа идёт текст", L" has text after the number"};
static const Phrase kWhyNoDigits = {L" — не число", L" is not a number"};
static const Phrase kWhyBeyond32Bits = {L" — число вне пределов от -2147483648 до 2147483647",
                                        L" does not fit in 32 bits"};
// "символ" after a number, in both languages' forms.
static const CountedWord kCharacters = {L"символ", L"символа", L"символов", L"character", L"characters"};
static const Phrase kModuleUses = {L"; модуль возьмёт ", L"; the module uses "};
static const Phrase kSwitchValue = {L"модуль прочтёт здесь ", L"the module reads this as "};
static const Phrase kSwitchValueTail = {L"; переключатель включён только при значении 1, при любом другом он выключен",
                                        L": only 1 switches it on, anything else leaves it off"};
static const Phrase kLongName = {L"в имени эффекта ", L"the effect name is "};
static const Phrase kAtLeast = {L"не меньше ", L"at least "};
static const Phrase kLongNameTail = {L"; модуль возьмёт только первые 259",
                                     L" long; the module uses only its first 259"};
static const Phrase kNotAscii = {
    L"в имени эффекта есть символы вне ASCII (например, русские буквы); проверьте, что файл эффекта назван точно так же",
    L"the effect name has characters outside plain ASCII; check that the effect's file is named exactly so"};
static const Phrase kNoFxFile = {L"в папке Effects нет файла ", L"the Effects folder has no file "};
static const Phrase kNoFxFileTail = {L": скорее всего, поэтому десантников и не видно",
                                     L": most likely the reason why no jumpers show"};
static const Phrase kFxExtension = {L"имя эффекта пишется без «.fx»: симулятор сам добавит расширение и будет искать ",
                                    L"write the effect name without \".fx\": the simulator adds it itself and looks for "};
static const Phrase kFxExtensionTail = {L"; напишите ", L"; write "};
static const Phrase kNoSection = {L"раздела нет, а значит, и имени эффекта: ", L"no such section, so no effect name: "};
static const Phrase kNoEffectName = {L"имя эффекта не задано: ", L"no effect name: "};
// The drop points the first slot (two doors: the first two) at the empty
// name and silences the rest of the first four.
static const Phrase kNoJumpers = {L"с флажком «Включить визуализацию» выброска на «",
                                  L"with \"Включить визуализацию\" checked, a drop from "};
static const Phrase kNoJumpersTail = {
    L"» не покажет десантников, а первые четыре точки эффектов самолёта до её конца потеряют и собственные эффекты; "
    L"на этом самолёте снимайте флажок",
    L" shows no jumpers, and the aircraft's first four effect points lose their own effects until it ends; on this "
    L"aircraft, uncheck the box"};

void NoteNoJumpers(const char* section, const char* key, int preset) {
  BeginFinding(kNote, section, key);
  Put(key ? kNoEffectName : kNoSection);
  Put(kNoJumpers);
  PutModuleText(kAircraftPresets[preset].listText);
  Put(kNoJumpersTail);
  EndLine();
}

// The simulator adds ".fx" itself: a name that has it already names NAME.fx.fx.
static bool EndsWithFx(const char* name) {
  int length = lstrlenA(name);
  return length > 3 && name[length - 3] == '.' && (name[length - 2] | 0x20) == 'f' && (name[length - 1] | 0x20) == 'x';
}

static NumberReading ReadNumber(const char* text, int value) {
  const char* at = text;
  while (*at == ' ' || *at == '\t') ++at;
  bool negative = *at == '-';
  if (*at == '+' || *at == '-') ++at;
  const char* digits = at;
  while (*at >= '0' && *at <= '9') ++at;
  if (at == digits) {
    // ".5" reads as 0 because the module stops at the point.
    bool fraction = (*at == '.' || *at == ',') && at[1] >= '0' && at[1] <= '9';
    return fraction ? kFraction : kNoDigits;
  }
  const char* digitsEnd = at;
  if (*at == '.' || *at == ',') {
    if (at[1] >= '0' && at[1] <= '9') return kFraction;
  }
  if (*at != '\0') return kTrailingText;
  // Written with its sign and without leading zeros, the number must be what
  // the module's reading gives back; otherwise it was saturated at 32 bits.
  while (digits + 1 < digitsEnd && *digits == '0') ++digits;
  char written[kConfigValueSize + 2];
  int length = 0;
  if (negative && !(digitsEnd - digits == 1 && *digits == '0')) written[length++] = '-';
  for (const char* digit = digits; digit < digitsEnd && length < kConfigValueSize; ++digit) written[length++] = *digit;
  written[length] = '\0';
  char read[16];
  FormatText(read, sizeof(read), "%d", value);
  return lstrcmpA(written, read) == 0 ? kAsWritten : kBeyond32Bits;
}

// Reports a number the module reads other than as written; true when it did.
static bool CheckNumber(const char* section, const char* key, const char* text, int value) {
  NumberReading reading = ReadNumber(text, value);
  if (reading == kAsWritten) return false;
  BeginFinding(kError, section, key);
  PutQuoted(text);
  switch (reading) {
    case kFraction: Put(kWhyFraction); break;
    case kTrailingText: Put(kWhyTrailingText); break;
    case kNoDigits: Put(kWhyNoDigits); break;
    default: Put(kWhyBeyond32Bits); break;
  }
  Put(kModuleUses);
  PutNumber(value);
  EndLine();
  return true;
}

static void CheckSwitch(const char* section, const char* key, const char* text) {
  int value = ParseInteger(text);
  if (CheckNumber(section, key, text, value) || value == 0 || value == 1) return;
  BeginFinding(kError, section, key);
  Put(kSwitchValue);
  PutNumber(value);
  Put(kSwitchValueTail);
  EndLine();
}

static bool IsPlainAscii(const char* text) {
  for (; *text; ++text) {
    if (static_cast<unsigned char>(*text) < 0x20 || static_cast<unsigned char>(*text) > 0x7E) return false;
  }
  return true;
}

static void CheckEffectName(const char* path, const char* section, const char* key, const char* name,
                            const char* effectsFolder) {
  // The module's buffer cuts the name: read it once more in full to measure it.
  static char written[kWrittenValueSize];
  int length = GetPrivateProfileStringA(section, key, "", written, kWrittenValueSize, path);
  if (length >= kConfigValueSize) {
    BeginFinding(kError, section, key);
    Put(kLongName);
    // A name that fills this buffer too was cut again: its length is unknown.
    if (length >= kWrittenValueSize - 1) Put(kAtLeast);
    PutCount(length, kCharacters);
    Put(kLongNameTail);
    EndLine();
  }
  if (EndsWithFx(name)) {
    BeginFinding(kNote, section, key);
    Put(kFxExtension);
    PutAnsi(name);
    Put(L".fx");
    Put(kFxExtensionTail);
    PutAnsi(name, lstrlenA(name) - 3);
    EndLine();
  }
  if (!IsPlainAscii(name)) {
    BeginFinding(kNote, section, key);
    Put(kNotAscii);
    EndLine();
  }
  if (effectsFolder) {
    char fxPath[MAX_PATH + kConfigValueSize];
    FormatText(fxPath, sizeof(fxPath), "%s\\%s.fx", effectsFolder, name);
    if (GetFileAttributesA(fxPath) == INVALID_FILE_ATTRIBUTES) {
      BeginFinding(kNote, section, key);
      Put(kNoFxFile);
      PutAnsi(name);
      Put(L".fx");
      Put(kNoFxFileTail);
      EndLine();
    }
  }
}

void CheckValue(const char* path, const char* section, const char* key, ConfigKey which,
                const char* effectsFolder) {
  const char* text = ReadConfigTextFrom(path, section, which);
  // An empty value reads as a missing key does: 0, or no effect name.
  if (*text == '\0') return;
  switch (which) {
    case kKeyRealism:
    case kKeyVisualView: CheckSwitch(section, key, text); break;
    case kKeyEffectName: CheckEffectName(path, section, key, text, effectsFolder); break;
    default: CheckNumber(section, key, text, ParseInteger(text)); break;
  }
}

static void PutSwitch(const char* path, ConfigKey key) {
  int value = ReadConfigIntegerFrom(path, kGeneralSection, key);
  PutAnsi(ConfigKeyName(key));
  Put(L" ");
  PutNumber(value);
  Put(value == 1 ? kSwitchOn : kSwitchOff);
}

void PrintModuleValues(const char* path) {
  Put(kModuleReads);
  EndLine();
  Put(L"  [General] ");
  PutSwitch(path, kKeyRealism);
  Put(L", ");
  PutSwitch(path, kKeyVisualView);
  EndLine();
  for (int index = 0; index < kPresetCount; ++index) {
    const AircraftPreset& preset = kAircraftPresets[index];
    Put(L"  ");
    PutModuleText(preset.listText);
    Put(L" [");
    PutAnsi(preset.section);
    Put(L"]: ");
    const char* name = ReadConfigTextFrom(path, preset.section, kKeyEffectName);
    if (*name) {
      Put(kEffect);
      PutQuoted(name);
    } else {
      Put(kNoEffect);
    }
    Put(L", x ");
    PutNumber(ReadConfigIntegerFrom(path, preset.section, kKeyPositionX));
    Put(L", y ");
    PutNumber(ReadConfigIntegerFrom(path, preset.section, kKeyPositionY));
    Put(L", z ");
    PutNumber(ReadConfigIntegerFrom(path, preset.section, kKeyPositionZ));
    EndLine();
  }
}
