#include "engine/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

char g_textBuffer[kTextBufferSize];

int ParseInteger(const char* text) {
  // long is 32 bits on Windows, so strtol saturates exactly at the 32-bit
  // limits, as the module's numbers always have.
  return static_cast<int>(strtol(text, NULL, 10));
}

void FormatText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return;
  va_list args;
  va_start(args, format);
  // msvcrt's own formatter: MinGW's replacement would add its whole printf
  // and float formatting to the DLL. It does not terminate a cut text.
  _vsnprintf(buffer, size - 1, format, args);
  va_end(args);
  buffer[size - 1] = '\0';
}
