// Numbers typed by the pilot or written in the configuration file.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include "engine/text.h"

struct ParseCase {
  const char* text;
  int expected;
};

TEST(ParseInteger, FollowsTheAtoiRulesWithThirtyTwoBitSaturation) {
  const ParseCase cases[] = {
      {"12", 12},
      {"0.5", 0},  // the fraction is not read
      {"0.7", 0},
      {"1.5", 1},
      {"", 0},
      {"  42abc", 42},
      {"\t\r\n 3", 3},
      {"-7", -7},
      {"+5", 5},
      {"01", 1},
      {"abc", 0},
      {"- 5", 0},
      {"0x10", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-99999999999999999999999", INT_MIN},
      {"\xC0\xC1", 0},  // Windows-1251 letters
  };
  for (const ParseCase& c : cases) EXPECT_EQ(c.expected, ParseInteger(c.text)) << '"' << c.text << '"';
}

TEST(FormatText, NeverWritesPastTheBufferAndAlwaysTerminates) {
  char buffer[8];
  memset(buffer, 'x', sizeof(buffer));
  FormatText(buffer, 5, "%d", 123456789);
  EXPECT_STREQ("1234", buffer);
  EXPECT_EQ('x', buffer[5]);

  FormatText(buffer, 4, "%s", "abc");  // exactly fills the room
  EXPECT_STREQ("abc", buffer);
}
