#include "checker/config_scan.h"

#include <windows.h>

#include "checker/check_output.h"
#include "checker/name_hint.h"

// A section header as it stands in the file.
struct SectionHeader {
  const char* name;
  int length;
  int line;
};

// A file with more headers than this is not a Kolvarine.cfg; later ones are
// not compared.
static const int kMaxHeaders = 256;
static const int kMaxNameSize = 260;

// A file saved as UTF-16 is read by the profile functions as text in the
// ANSI code page: the scan reads the same text. Each UTF-16 character of a
// file of at most a megabyte gives at most two bytes.
static const int kAnsiTextSize = 1024 * 1024;

static SectionHeader g_headers[kMaxHeaders];
static int g_headerCount;
static char g_ansiText[kAnsiTextSize];

static const Phrase kByteOrderMark = {
    L"файл начинается с метки порядка байтов UTF-8 (BOM), и из-за неё Windows не узнаёт заголовок этого раздела "
    L"в строке 1: модуль не прочтёт ни одного ключа раздела; сохраните файл в кодировке ANSI",
    L"the file starts with a UTF-8 byte-order mark, and with it Windows does not recognise this section's header "
    L"on line 1: the module reads none of the section's keys; save the file as ANSI (Windows-1251)"};
static const Phrase kBeforeFirstSection = {L"строка ", L"line "};
static const Phrase kBeforeFirstSectionTail = {L" стоит до первого раздела, и модуль её не читает",
                                               L" stands before the first section; the module never reads it"};
static const Phrase kSectionAgain = {L"раздел задан ещё раз в строке ", L"section given again at line "};
static const Phrase kSectionAgainTail = {L"; модуль читает только первый — тот, что в строке ",
                                         L"; the module reads only the first, at line "};

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static void Trim(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// Findings name the section as text; the header's bytes are not terminated.
static const char* NameText(const SectionHeader& header) {
  static char name[kMaxNameSize];
  int length = header.length < kMaxNameSize - 1 ? header.length : kMaxNameSize - 1;
  CopyMemory(name, header.name, length);
  name[length] = '\0';
  return name;
}

static void OnSectionHeader(const SectionHeader& header) {
  for (int index = 0; index < g_headerCount; ++index) {
    const SectionHeader& earlier = g_headers[index];
    if (!SameName(earlier.name, earlier.length, header.name, header.length)) continue;
    BeginFinding(kError, NameText(header), NULL);
    Put(kSectionAgain);
    PutNumber(header.line);
    Put(kSectionAgainTail);
    PutNumber(earlier.line);
    EndLine();
    return;
  }
  if (g_headerCount < kMaxHeaders) g_headers[g_headerCount++] = header;
}

static void OnLineBeforeFirstSection(const char* begin, const char* end, int line) {
  const char* keyEnd = begin;
  while (keyEnd < end && *keyEnd != '=') ++keyEnd;
  Trim(&begin, &keyEnd);
  char key[kMaxNameSize];
  int length = static_cast<int>(keyEnd - begin);
  if (length > kMaxNameSize - 1) length = kMaxNameSize - 1;
  CopyMemory(key, begin, length);
  key[length] = '\0';
  BeginFinding(kError, kOutsideAnySection, key);
  Put(kBeforeFirstSection);
  PutNumber(line);
  Put(kBeforeFirstSectionTail);
  EndLine();
}

// A section header of the line, or false when it opens none.
static bool ReadSectionHeader(const char* begin, const char* end, int line, SectionHeader* header) {
  if (begin == end || *begin != '[') return false;
  const char* close = end;
  while (close > begin && close[-1] != ']') --close;
  if (close <= begin + 1) return false;
  // The profile functions drop the blanks inside the brackets too.
  const char* nameBegin = begin + 1;
  const char* nameEnd = close - 1;
  Trim(&nameBegin, &nameEnd);
  header->name = nameBegin;
  header->length = static_cast<int>(nameEnd - nameBegin);
  header->line = line;
  return true;
}

// One line, without its line break; returns true when it opens a section.
// Behind a byte-order mark, Windows sees no header on line 1: that section
// is reported once as lost, and a later one of its name is no repeat.
static bool ScanLine(const char* begin, const char* end, int line, bool inSection, bool byteOrderMark) {
  Trim(&begin, &end);
  if (begin == end || *begin == ';') return false;
  SectionHeader header;
  if (ReadSectionHeader(begin, end, line, &header)) {
    if (byteOrderMark && line == 1) {
      BeginFinding(kError, NameText(header), NULL);
      Put(kByteOrderMark);
      EndLine();
    } else {
      OnSectionHeader(header);
    }
    return true;
  }
  if (!inSection) OnLineBeforeFirstSection(begin, end, line);
  return false;
}

static void ScanText(const char* text, const char* end, bool byteOrderMark) {
  g_headerCount = 0;
  bool inSection = false;
  int line = 1;
  while (text < end) {
    const char* lineEnd = text;
    while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') ++lineEnd;
    if (ScanLine(text, lineEnd, line, inSection, byteOrderMark)) inSection = true;
    if (lineEnd < end && *lineEnd == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n') ++lineEnd;
    text = lineEnd + 1;
    ++line;
  }
}

void ScanFileBytes(const char* bytes, int size) {
  unsigned char first = size >= 2 ? static_cast<unsigned char>(bytes[0]) : 0;
  unsigned char second = size >= 2 ? static_cast<unsigned char>(bytes[1]) : 0;
  if (first == 0xFF && second == 0xFE) {
    // UTF-16 little-endian, as Notepad saves "Unicode"; the file's buffer is
    // aligned, so its characters after the mark are too.
    const wchar_t* characters = reinterpret_cast<const wchar_t*>(bytes + 2);
    int length = WideCharToMultiByte(CP_ACP, 0, characters, (size - 2) / 2, g_ansiText, kAnsiTextSize, NULL, NULL);
    ScanText(g_ansiText, g_ansiText + length, false);
    return;
  }
  // UTF-16 big-endian: its bytes are no ANSI text, and what the profile
  // functions make of it is all the checker can go by.
  if (first == 0xFE && second == 0xFF) return;
  bool byteOrderMark = size >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' && bytes[2] == '\xBF';
  ScanText(byteOrderMark ? bytes + 3 : bytes, bytes + size, byteOrderMark);
}
