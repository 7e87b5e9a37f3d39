// The values the module will take from the pilot's file, read through the
// module's own configuration code, and the checks of each value.
#pragma once

#include "ui/module_config.h"

// `path` is a full path: the profile functions look a bare name up in the
// Windows folder.
void PrintModuleValues(const char* path);

// Checks the value of `key` (as the file spells it; the module reads it as
// `which`) in `section`. `preset` is the aircraft of an effect name, and
// `effectsFolder` the simulator's Effects folder, or null when there is none.
void CheckValue(const char* path, const char* section, const char* key, ConfigKey which, int preset,
                const char* effectsFolder);

// The note that no jumpers will show for aircraft `preset`: its section is
// missing (`key` null) or its effect name is.
void NoteNoJumpers(const char* section, const char* key, int preset);
