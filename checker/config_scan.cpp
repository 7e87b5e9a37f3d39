#include "checker/config_scan.h"

#include <windows.h>

#include "checker/check_output.h"

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

static SectionHeader g_headers[kMaxHeaders];
static int g_headerCount;

static const Phrase kByteOrderMark = {
    L"файл начинается с метки порядка байтов UTF-8: Windows тогда не узнаёт заголовок первого раздела, и модуль "
    L"его не читает; сохраните файл в кодировке ANSI (Windows-1251)",
    L"the file starts with a UTF-8 byte-order mark: Windows then does not recognise the first section header and "
    L"the module does not read that section; save the file as ANSI (Windows-1251)"};
static const Phrase kBeforeFirstSection = {L"строка ", L"line "};
static const Phrase kBeforeFirstSectionTail = {L" стоит до первого раздела; модуль её не читает",
                                               L" stands before the first section; the module never reads it"};
static const Phrase kSectionAgain = {L"раздел повторён в строке ", L"section given again at line "};
static const Phrase kSectionAgainTail = {L"; модуль читает только первый, из строки ",
                                         L"; the module reads only the first, at line "};

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static void Trim(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// Section names match as the profile functions match them: without regard to case.
static bool SameName(const SectionHeader& a, const SectionHeader& b) {
  return a.length == b.length && CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.name, a.length, b.name,
                                                b.length) == CSTR_EQUAL;
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
    if (!SameName(g_headers[index], header)) continue;
    BeginFinding(kError, NameText(header), NULL);
    Put(kSectionAgain);
    PutNumber(header.line);
    Put(kSectionAgainTail);
    PutNumber(g_headers[index].line);
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
  BeginFinding(kError, "", key);
  Put(kBeforeFirstSection);
  PutNumber(line);
  Put(kBeforeFirstSectionTail);
  EndLine();
}

// One line, without its line break; returns true when it opens a section.
static bool ScanLine(const char* begin, const char* end, int line, bool inSection) {
  Trim(&begin, &end);
  if (begin == end || *begin == ';') return false;
  if (*begin == '[') {
    const char* close = end;
    while (close > begin && close[-1] != ']') --close;
    if (close > begin + 1) {
      // The profile functions drop the blanks inside the brackets too.
      const char* nameBegin = begin + 1;
      const char* nameEnd = close - 1;
      Trim(&nameBegin, &nameEnd);
      SectionHeader header = {nameBegin, static_cast<int>(nameEnd - nameBegin), line};
      OnSectionHeader(header);
      return true;
    }
  }
  if (!inSection) OnLineBeforeFirstSection(begin, end, line);
  return false;
}

void ScanFileBytes(const char* bytes, int size) {
  const char* end = bytes + size;
  const char* text = bytes;
  bool byteOrderMark = size >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' && bytes[2] == '\xBF';
  if (byteOrderMark) text += 3;
  g_headerCount = 0;
  bool inSection = false;
  int line = 1;
  while (text < end) {
    const char* lineEnd = text;
    while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') ++lineEnd;
    if (ScanLine(text, lineEnd, line, inSection)) inSection = true;
    if (lineEnd < end && *lineEnd == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n') ++lineEnd;
    text = lineEnd + 1;
    ++line;
  }
  if (byteOrderMark) {
    BeginFinding(kError, g_headerCount > 0 ? NameText(g_headers[0]) : "", NULL);
    Put(kByteOrderMark);
    EndLine();
  }
}
