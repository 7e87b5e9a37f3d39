// The built-in aircraft configurations, in the order of the dialog's list,
// with the configuration file section each one reads. Kept apart from the
// drop state so that KolvarineCheck.exe names them without the host binding.
#pragma once

enum StreamCount { kOneStream = 1, kTwoStreams = 2 };

struct AircraftPreset {
  const char* listText;      // as the configuration list shows it
  const char* section;       // configuration file section
  const char* countText;     // what the count field shows once chosen
  const char* intervalText;  // what the interval field shows once chosen
  int count;
  double interval;
  int step;
  StreamCount streams;
};

const int kPresetCount = 7;
const int kCustomPreset = 0;
extern const AircraftPreset kAircraftPresets[kPresetCount];
