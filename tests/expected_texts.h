// What the pilot and the simulator must see, written down apart from the
// module's code, and the atoi rules the module reads every number by.
#pragma once

#include <string>

// The streams text under the list, by the chosen entry's streams.
const char kOneStreamText[] = "Выброска производится:\r\n   - 1 поток по 1 человеку";
const char kTwoStreamsText[] = "Выброска производится:\r\n   - 2 потока по 1 человеку";
// The simulator's on-screen messages at a drop's start and end.
const char kStartMessageText[] = "Командир, начинаем выброску...";
const char kEndMessageText[] = "Командир, выброска окончена...";
// The module's pop-up on the simulator's menu bar.
const char kMenuTitleText[] = "Зоркрыл";

// "Количество десантников: N чел."
inline std::string CountLabel(int count) { return "Количество десантников: " + std::to_string(count) + " чел."; }

// atoi as msvcrt's strtol reads it, saturating at the 32-bit limits.
inline int ReferenceAtoi(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;  // beyond either limit
  }
  if (negative) value = -value;
  return static_cast<int>(value > 2147483647LL ? 2147483647LL : value);
}
