#include "engine/aircraft_presets.h"

const AircraftPreset kAircraftPresets[kPresetCount] = {
    {"Пользовательская", "user", "0", "0", 0, 0.0, 1, kOneStream},
    {"МИ-8", "mi8", "16", "3", 16, 3.0, 1, kOneStream},
    {"АН-2", "an2", "10", "3", 10, 3.0, 1, kOneStream},
    {"АН-12", "an12", "60", "0.7", 60, 0.7, 1, kOneStream},
    {"АН-22", "an22", "150", "0.7", 150, 0.7, 2, kTwoStreams},
    {"АН-26", "an26", "30", "0.8", 30, 0.8, 1, kOneStream},
    {"ИЛ-76", "il76", "124", "0.8", 124, 0.8, 2, kTwoStreams},
};
