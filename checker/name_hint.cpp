#include "checker/name_hint.h"

#include <windows.h>

// Known names are short; a longer typed name is never within two edits.
static const int kMaxNameLength = 32;
static const int kMaxEdits = 2;

static char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* a, int aLength, const char* b, int bLength) {
  if (aLength != bLength) return false;
  for (int index = 0; index < aLength; ++index) {
    if (Lower(a[index]) != Lower(b[index])) return false;
  }
  return true;
}

bool SameName(const char* a, const char* b) {
  return SameName(a, lstrlenA(a), b, lstrlenA(b));
}

// Levenshtein distance over one row of the usual table.
static int EditDistance(const char* a, int aLength, const char* b, int bLength) {
  int row[kMaxNameLength + 1];
  for (int j = 0; j <= bLength; ++j) row[j] = j;
  for (int i = 1; i <= aLength; ++i) {
    int diagonal = row[0];
    row[0] = i;
    for (int j = 1; j <= bLength; ++j) {
      int above = row[j];
      int change = diagonal + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1);
      int best = change;
      if (above + 1 < best) best = above + 1;
      if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
      row[j] = best;
      diagonal = above;
    }
  }
  return row[bLength];
}

const char* NearestName(const char* typed, const char* const* names, int count) {
  int typedLength = lstrlenA(typed);
  if (typedLength > kMaxNameLength) return NULL;
  const char* nearest = NULL;
  int nearestEdits = kMaxEdits + 1;
  for (int index = 0; index < count; ++index) {
    int length = lstrlenA(names[index]);
    if (length > kMaxNameLength) continue;
    int edits = EditDistance(typed, typedLength, names[index], length);
    if (edits < nearestEdits) {
      nearest = names[index];
      nearestEdits = edits;
    }
  }
  return nearest;
}
