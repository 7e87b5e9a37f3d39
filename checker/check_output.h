// What KolvarineCheck.exe prints: lines built from pieces in the pilot's
// language, written as UTF-16 to a console window (in the characters its code
// page has) and as UTF-8 (no byte-order mark) to a file or a pipe.
#pragma once

enum Language { kRussian, kEnglish };
enum FindingKind { kError, kNote };

// One text in both languages.
struct Phrase {
  const wchar_t* russian;
  const wchar_t* english;
};

// A noun counted by a number: Russian has three forms (1 символ, 2 символа,
// 5 символов), English two.
struct CountedWord {
  const wchar_t* russianOne;
  const wchar_t* russianFew;
  const wchar_t* russianMany;
  const wchar_t* englishOne;
  const wchar_t* englishMany;
};

extern Language g_language;
extern int g_errorCount;
extern int g_noteCount;

// Decides once whether standard output is a console window.
void OpenOutput();

void Put(const wchar_t* text);
void Put(const Phrase& phrase);
void PutAnsi(const char* text);         // text from the file: the ANSI code page
void PutAnsi(const char* text, int length);
void PutModuleText(const char* text);   // the module's own texts: Windows-1251
void PutNumber(long long number);
void PutCount(long long number, const CountedWord& word);  // "300 символов"
void PutQuoted(const char* text);       // a value from the file, in the language's quotes
void EndLine();

// Stands for the section of a line above the first header: brackets around
// nothing would read as a section named "".
extern const char kOutsideAnySection[];

// Starts "error: [section] key: " (or "note: ..."), counting it; `key` may be
// null for a finding about a whole section, `section` too for one about
// Windows rather than the file. With kOutsideAnySection it starts
// "error: key (outside any section): ". The message follows with Put().
void BeginFinding(FindingKind kind, const char* section, const char* key);

// True when the program has a console window of its own (started by a double
// click): both standard handles are that console and no other process uses it.
bool OwnsConsoleWindow();
// Waits for Enter, so that the window does not vanish before it is read.
void WaitForEnter();
