// What the profile functions hide and the checker can only see in the file's
// bytes: a UTF-8 byte-order mark, lines before the first section and a
// section given twice.
#pragma once

// Reports those as findings. `bytes` is the whole file.
void ScanFileBytes(const char* bytes, int size);
