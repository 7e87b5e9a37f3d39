// Texts and numbers as the module handles them: 8-bit Windows-1251 strings,
// decimal integers read with the rules of atoi.
#pragma once

#include <stddef.h>

// Size of the module-wide text buffers (count label at load, diagnostics,
// text read from the dialog's edit fields).
const int kTextBufferSize = 2000;

// The module-wide text buffer: the count label built at load lives here.
extern char g_textBuffer[kTextBufferSize];

// Leading white space, optional sign, digits; stops at the first other
// character; no digits gives 0; values beyond 32 bits saturate.
int ParseInteger(const char* text);

// printf-style formatting that always terminates and never writes past `size`.
void FormatText(char* buffer, size_t size, const char* format, ...);
