#include "tov32/text/between.h"

#include <gtest/gtest.h>


namespace {

struct BetweenCase {
  std::string subject, start, end, expected;
};

TEST(BetweenTest, CutsBetweenTheDelimiters) {
  const BetweenCase cases[] = {
      {"whole", "", "", "whole"},
      {"a]b", "[", "]", ""},
      {"a]b[c]d", "[", "]", "c"},
      {"Version  \r\r\n10.0  \r\r\n", "\r\n", "", "10.0  \r\r\n"},
      {"header\r\n", "\r\n", "", ""},
      {"no line end", "\r\n", "", ""},
      {"", "\r\n", "", ""},
      {"[]x", "[", "]", ""},
      {"[abc", "[", "]", "abc"},
      {"abc", "", "c", "ab"},
  };
  for (const BetweenCase& c : cases) {
    EXPECT_EQ(tov32::Between(c.subject, c.start, c.end), c.expected) << c.subject;
  }
}

TEST(BooleanTStrTest, PicksByTheFlag) {
  EXPECT_EQ(tov32::BooleanTStr(true, "yes", "no"), "yes");
  EXPECT_EQ(tov32::BooleanTStr(false, "yes", "no"), "no");
  const unsigned char flagByte = 2;
  EXPECT_EQ(tov32::BooleanTStr(flagByte != 0, "yes", "no"), "yes");
}

}  // namespace
