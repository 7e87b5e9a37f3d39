// Names of sections and keys: when two are the same to the profile
// functions, and the known name a misspelt one was most likely meant to be.
#pragma once

// True when the `aLength` characters at `a` and the `bLength` at `b` are one
// name: compared code by code, ASCII letters without regard to case, with no
// language rules (a hyphen or an accent is never passed over).
bool SameName(const char* a, int aLength, const char* b, int bLength);
bool SameName(const char* a, const char* b);

// The name among `names` nearest to `typed`, within two edits (letters
// inserted, removed or changed, case aside); null when none is that near.
const char* NearestName(const char* typed, const char* const* names, int count);
