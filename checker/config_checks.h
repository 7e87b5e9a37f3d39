// The sections and keys of the pilot's file as the profile functions list
// them: which the module reads, which it ignores, which aircraft lack one.
#pragma once

// Checks every section and key the profile functions list in the file at
// the full `path`. `effectsFolder` is the simulator's Effects folder beside
// the file's Modules folder, or null when there is none.
void CheckSections(const char* path, const char* effectsFolder);
