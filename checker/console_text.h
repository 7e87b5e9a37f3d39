// Text for a console window. A Russian XP or 7 console starts with a raster
// font and code page 866, which has no «, » or —: there they become plain
// quotes and hyphens. Files and pipes get UTF-8 and keep every character.
#pragma once

#include <windows.h>

struct ConsoleStandIn {
  wchar_t character;
  const wchar_t* text;
};

// True when `codePage` has `character` of its own, not a best-fit look-alike.
// A code page Windows does not know is taken to show everything.
inline bool CodePageShows(UINT codePage, wchar_t character) {
  if (codePage == CP_UTF8) return true;
  char bytes[8];
  BOOL lost = FALSE;
  int converted = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, &character, 1, bytes, sizeof(bytes), NULL, &lost);
  return converted == 0 || !lost;
}

// Copies the `length` characters at `text` into `fitted` (room for `room`),
// writing those `codePage` lacks as their stand-ins; any other missing
// character is left to the console. Returns the length written.
inline int FitToCodePage(const wchar_t* text, int length, UINT codePage, wchar_t* fitted, int room) {
  static const ConsoleStandIn kStandIns[] = {
      {L'«', L"\""}, {L'»', L"\""}, {L'„', L"\""}, {L'“', L"\""}, {L'”', L"\""}, {L'‘', L"'"},
      {L'’', L"'"},  {L'—', L"-"},  {L'–', L"-"},  {L'−', L"-"},  {L'…', L"..."}, {L'\u00A0', L" "}, {L'→', L"->"},
  };
  int written = 0;
  for (int index = 0; index < length; ++index) {
    const wchar_t* standIn = NULL;
    if (!CodePageShows(codePage, text[index])) {
      for (int entry = 0; entry < static_cast<int>(sizeof(kStandIns) / sizeof(kStandIns[0])); ++entry) {
        if (kStandIns[entry].character == text[index]) standIn = kStandIns[entry].text;
      }
    }
    if (!standIn) {
      if (written < room) fitted[written++] = text[index];
      continue;
    }
    for (; *standIn && written < room; ++standIn) fitted[written++] = *standIn;
  }
  return written;
}
