// The one drop configuration the module keeps, and the two operations that
// fill it: choosing a configuration from the preset table
// (aircraft_presets.h) and loading the aircraft.
#pragma once

#include "engine/aircraft_presets.h"

// Module-wide drop state, all zero when the library is loaded.
struct DropState {
  int count;        // paratroopers still aboard
  int step;         // paratroopers leaving per drop tick: 1 or 2
  double interval;  // seconds between drop ticks
  int presetIndex;  // position of the chosen entry in the configuration list
  double load;      // the last load written to the simulator
};

extern DropState g_dropState;

// Carried load per paratrooper.
const double kParatrooperWeight = 170.0;

// The three texts the dialog shows after a choice, in the order it shows them.
struct PresetTexts {
  const char* countText;
  const char* intervalText;
  const char* description;
};

const char* StreamDescription(StreamCount streams);

// Writes "Количество десантников: <count> чел." into `buffer`.
void FormatCountLabel(char* buffer, int size, int count);

// Sets the state from row `index`. Returns false, changing nothing, when the
// index is no row (the list reports no selection).
bool SelectPreset(int index, PresetTexts* texts);

// Finishes the state (for the custom entry from the two field texts), writes
// the load to the simulator and returns the count label, held in the
// module-wide text buffer.
const char* LoadAircraft(const char* countText, const char* intervalText);

// Writes count × kParatrooperWeight to the simulator as the carried load.
void LoadPayload();
