#include "checker/check_output.h"

#include <windows.h>

#include "checker/console_text.h"

Language g_language = kRussian;
int g_errorCount;
int g_noteCount;

// Long enough for a 259-character value and its message; longer lines are
// cut, always leaving room for the line break.
static const int kLineSize = 2048;
static const int kTextRoom = kLineSize - 2;

static wchar_t g_line[kLineSize];
static int g_lineLength;
static char g_utf8Line[kLineSize * 3];
// A stand-in is at most three characters ("..." for "…").
static wchar_t g_consoleLine[kLineSize * 3];
static HANDLE g_output;
static bool g_outputIsConsole;

void OpenOutput() {
  g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  g_outputIsConsole = GetConsoleMode(g_output, &mode) != 0;
}

static void PutConverted(UINT codePage, const char* text, int length) {
  if (length <= 0) return;
  int room = kTextRoom - g_lineLength;
  if (room <= 0) return;
  // A text that does not fit is converted in part rather than dropped.
  int converted = MultiByteToWideChar(codePage, 0, text, length, g_line + g_lineLength, room);
  if (converted == 0 && length > room) {
    converted = MultiByteToWideChar(codePage, 0, text, room, g_line + g_lineLength, room);
  }
  g_lineLength += converted;
}

void Put(const wchar_t* text) {
  while (*text && g_lineLength < kTextRoom) g_line[g_lineLength++] = *text++;
}

void Put(const Phrase& phrase) {
  Put(g_language == kEnglish ? phrase.english : phrase.russian);
}

void PutAnsi(const char* text) {
  PutConverted(CP_ACP, text, lstrlenA(text));
}

void PutAnsi(const char* text, int length) {
  PutConverted(CP_ACP, text, length);
}

void PutModuleText(const char* text) {
  PutConverted(1251, text, lstrlenA(text));
}

void PutNumber(long long number) {
  wchar_t digits[24];
  int count = 0;
  unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number) : number;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) Put(L"-");
  while (count > 0 && g_lineLength < kTextRoom) g_line[g_lineLength++] = digits[--count];
}

void PutCount(long long number, const CountedWord& word) {
  PutNumber(number);
  Put(L" ");
  unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number) : number;
  if (g_language == kEnglish) {
    Put(magnitude == 1 ? word.englishOne : word.englishMany);
  } else if (magnitude % 10 == 1 && magnitude % 100 != 11) {
    Put(word.russianOne);
  } else if (magnitude % 10 >= 2 && magnitude % 10 <= 4 && (magnitude % 100 < 12 || magnitude % 100 > 14)) {
    Put(word.russianFew);
  } else {
    Put(word.russianMany);
  }
}

void PutQuoted(const char* text) {
  Put(g_language == kEnglish ? L"\"" : L"«");
  PutAnsi(text);
  Put(g_language == kEnglish ? L"\"" : L"»");
}

void EndLine() {
  g_line[g_lineLength++] = L'\r';
  g_line[g_lineLength++] = L'\n';
  DWORD written;
  if (g_outputIsConsole) {
    // The console's own code page decides what it can show (chcp changes it).
    int length = FitToCodePage(g_line, g_lineLength, GetConsoleOutputCP(), g_consoleLine, kLineSize * 3);
    WriteConsoleW(g_output, g_consoleLine, length, &written, NULL);
  } else {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, g_line, g_lineLength, g_utf8Line, sizeof(g_utf8Line), NULL, NULL);
    WriteFile(g_output, g_utf8Line, bytes, &written, NULL);
  }
  g_lineLength = 0;
}

static const Phrase kErrorWord = {L"ошибка: ", L"error: "};
static const Phrase kNoteWord = {L"замечание: ", L"note: "};
static const Phrase kOutsideAnySectionWords = {L"(вне раздела)", L"(outside any section)"};

// Told apart by its address, not its text: "[ ]" in the file names a section
// whose name is empty too.
const char kOutsideAnySection[] = "";

void BeginFinding(FindingKind kind, const char* section, const char* key) {
  if (kind == kError) {
    ++g_errorCount;
    Put(kErrorWord);
  } else {
    ++g_noteCount;
    Put(kNoteWord);
  }
  // A finding about Windows rather than the file names no section.
  if (!section) return;
  if (section == kOutsideAnySection) {
    if (key && *key) {
      PutAnsi(key);
      Put(L" ");
    }
    Put(kOutsideAnySectionWords);
    Put(L": ");
    return;
  }
  Put(L"[");
  PutAnsi(section);
  Put(L"]");
  if (key) {
    Put(L" ");
    PutAnsi(key);
  }
  Put(L": ");
}

bool OwnsConsoleWindow() {
  DWORD mode;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return false;
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return false;
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

static const Phrase kPressEnter = {L"Нажмите Enter, чтобы закрыть окно.", L"Press Enter to close this window."};

void WaitForEnter() {
  Put(kPressEnter);
  EndLine();
  wchar_t typed[64];
  DWORD read;
  ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), typed, 64, &read, NULL);
}
