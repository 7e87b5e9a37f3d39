#include "engine/drop_state.h"

#include "engine/text.h"
#include "host/host_services.h"

DropState g_dropState;

// The carried-load variable as the simulator's VariableWriter knows it.
static const DWORD kLoadVariable = 164;
static const DWORD kLoadVariableIndex = 124;
static const DWORD kLoadVariableMode = 1;

const char* StreamDescription(StreamCount streams) {
  if (streams == kTwoStreams) return "Выброска производится:\r\n   - 2 потока по 1 человеку";
  return "Выброска производится:\r\n   - 1 поток по 1 человеку";
}

void FormatCountLabel(char* buffer, int size, int count) {
  FormatText(buffer, size, "Количество десантников: %d чел.", count);
}

bool SelectPreset(int index, PresetTexts* texts) {
  if (index < 0 || index >= kPresetCount) return false;
  const AircraftPreset& preset = kAircraftPresets[index];
  // The custom entry keeps count and interval until the aircraft is loaded.
  if (index != kCustomPreset) {
    g_dropState.count = preset.count;
    g_dropState.interval = preset.interval;
  }
  g_dropState.step = preset.step;
  g_dropState.presetIndex = index;
  texts->countText = preset.countText;
  texts->intervalText = preset.intervalText;
  texts->description = StreamDescription(preset.streams);
  return true;
}

const char* LoadAircraft(const char* countText, const char* intervalText) {
  if (g_dropState.presetIndex == kCustomPreset) {
    // A negative count could never be stepped down to zero: load it as empty.
    int count = ParseInteger(countText);
    g_dropState.count = count < 0 ? 0 : count;
    int seconds = ParseInteger(intervalText);
    g_dropState.interval = seconds < 0 ? 0.0 : seconds;
  }
  FormatCountLabel(g_textBuffer, kTextBufferSize, g_dropState.count);
  LoadPayload();
  return g_textBuffer;
}

void LoadPayload() {
  VariableWriter* writer = GetVariableWriter();
  g_dropState.load = g_dropState.count * kParatrooperWeight;
  SetVariable(writer, kLoadVariable, kLoadVariableIndex, g_dropState.load, kLoadVariableMode);
}
