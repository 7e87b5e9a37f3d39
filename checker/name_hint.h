// The known name a misspelt one was most likely meant to be.
#pragma once

// The name among `names` nearest to `typed`, within two edits (letters
// inserted, removed or changed, case aside); null when none is that near.
const char* NearestName(const char* typed, const char* const* names, int count);
