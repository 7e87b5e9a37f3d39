// The values the module will take from the pilot's file, read through the
// module's own configuration code, and the checks of each value.
#pragma once

#include "ui/module_config.h"

// Prints what the module takes from the file at `path`, under a line of its
// own. `path` is a full path: the profile functions look a bare name up in
// the Windows folder.
void PrintModuleValues(const char* path);

// Checks the value of `key` (as the file spells it; the module reads it as
// `which`) in `section`. `effectsFolder` is the simulator's Effects folder,
// or null when there is none. An empty value, like a missing key, gives no
// finding here: an aircraft without an effect name is noted by NoteNoJumpers.
void CheckValue(const char* path, const char* section, const char* key, ConfigKey which,
                const char* effectsFolder);

// The note that no jumpers will show for aircraft `preset`: its section is
// missing (`key` null) or its effect name is.
void NoteNoJumpers(const char* section, const char* key, int preset);
