// What the module will read from the pilot's file, through the same profile
// functions and number reading as the module, and where that differs from
// what a person reads in the text.
#pragma once

// `path` is a full path: the profile functions look a bare name up in the
// Windows folder. `effectsFolder` is the simulator's Effects folder beside
// the file's Modules folder, or null when there is none.
void PrintModuleValues(const char* path);
void CheckSections(const char* path, const char* effectsFolder);
