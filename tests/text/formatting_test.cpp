#include "tov32/text/formatting.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/fakes.h"

namespace {

using tov32::platform::ScopedReplacement;

class SeparatorsTest : public ::testing::Test {
 protected:
  void TearDown() override { tov32::SetRegionalSeparators(",", ":"); }
};

// 7 January 2021 is day 44203 of the day count.
double DayCount(int day, int hour, int minute, int second, int millisecond) {
  return day + (((hour * 60.0 + minute) * 60 + second) * 1000 + millisecond) / 86400000.0;
}

struct DayTimeCase {
  const char* pattern;
  const char* thousands;
  const char* time;
  double value;
  const char* expected;
};

using FormatDayTimeTest = SeparatorsTest;

TEST_F(FormatDayTimeTest, RendersTheSystemsPatterns) {
  const double sample = DayCount(44203, 14, 5, 9, 42);
  const DayTimeCase cases[] = {
      {"YYYY-MM-DD HH:NN:SS.ZZZ", ",", ":", sample, "2021-01-07 14:05:09.042"},
      {"HH:NN:SS.ZZZ", ",", ":", sample, "14:05:09.042"},
      {"yyyymmddhhnnsszzz", ",", ":", sample, "20210107140509042"},
      {"YYYY-MM-DD HH:NN:SS.ZZZ", ",", ".", sample, "2021-01-07 14.05.09.042"},
      {"HH:NN:SS.ZZZ", ",", ".", sample, "14.05.09.042"},
      {"YYYY-MM-DD HH:NN:SS.ZZZ", ",", "", sample, "2021-01-07 140509.042"},
      {"yyyymmddhhnnsszzz", ",", ".", sample, "20210107140509042"},
      {"yyyymmddhhnnsszzz", ",", ":", DayCount(44203, 0, 0, 0, 1), "20210107000000001"},
      {"YYYY-MM-DD HH:NN:SS.ZZZ", ",", ":", DayCount(44203, 23, 59, 59, 999), "2021-01-07 23:59:59.999"},
      {"YYYY-MM-DD HH:NN:SS.ZZZ", ",", ":", 2.0, "1900-01-01 00:00:00.000"},
      {"YYYY-MM-DD", ",", ":", DayCount(44255, 0, 0, 0, 0), "2021-02-28"},
      {"YYYY-MM-DD", ",", ":", DayCount(43890, 0, 0, 0, 0), "2020-02-29"},
      // Half a millisecond before midnight rounds into the next day.
      {"yyyymmddhhnnsszzz", ",", ":", 44203.0 - 0.4 / 86400000.0, "20210107000000000"},
      {"yyyymmddhhnnsszzz", ",", ":", 44203.0 - 0.6 / 86400000.0, "20210106235959999"},
      {"d/m/yy h:n:s.z", ",", ":", DayCount(44203, 4, 5, 9, 7), "7/1/21 4:5:9.7"},
      {"hh:mm", ",", ":", sample, "14:05"},
  };
  for (const DayTimeCase& c : cases) {
    tov32::SetRegionalSeparators(c.thousands, c.time);
    EXPECT_EQ(tov32::FormatDayTime(c.pattern, c.value), c.expected) << c.pattern << " " << c.time;
  }
}

TEST(LocalNowTest, CountsDaysAndMillisecondsOfTheLocalClock) {
  norva_test::FakeClock clock;
  ScopedReplacement<tov32::platform::Clock> use(clock);
  clock.local = {2021, 1, 7, 14, 5, 9, 42};
  EXPECT_DOUBLE_EQ(tov32::LocalNow(), DayCount(44203, 14, 5, 9, 42));
  clock.local = {1900, 1, 1, 0, 0, 0, 0};
  EXPECT_DOUBLE_EQ(tov32::LocalNow(), 2.0);
  clock.local = {2021, 1, 7, 14, 5, 9, 42};
  EXPECT_EQ(tov32::FormatDayTime("YYYY-MM-DD HH:NN:SS.ZZZ", tov32::LocalNow()), "2021-01-07 14:05:09.042");
}

struct NumberCase {
  const char* thousands;
  double value;
  const char* expected;
};

using FormatNumberTest = SeparatorsTest;

TEST_F(FormatNumberTest, RoundsHalfAwayFromZeroAndGroups) {
  const NumberCase cases[] = {
      {",", 0, "0"},          {",", 0.5, "1"},          {",", 2.5, "3"},
      {",", -2.5, "-3"},      {",", 999.5, "1,000"},    {",", 1234, "1,234"},
      {",", -0.4, "0"},       {",", -0.0, "0"},         {",", -1500, "-1,500"},
      {",", 86400000, "86,400,000"},                    {",", -3600000, "-3,600,000"},
      {",", 123456, "123,456"},                         {",", 1234.4999999, "1,234"},
      {"", 1234567, "1234567"},                         {".", 1234567, "1.234.567"},
      {",", 1e18, "1,000,000,000,000,000,000"},
  };
  for (const NumberCase& c : cases) {
    tov32::SetRegionalSeparators(c.thousands, ":");
    EXPECT_EQ(tov32::FormatNumber("#,##0", c.value), c.expected) << c.value;
  }
}

// The doubles right beside the halves, where a rounding that adds one half
// before it floors goes wrong; both builds run this table.
TEST_F(FormatNumberTest, ValuesBesideTheHalvesRoundByTheirExactValue) {
  tov32::SetRegionalSeparators(",", ":");
  const std::pair<double, const char*> cases[] = {
      {0.49999999999999994, "0"},        {-0.49999999999999994, "0"},
      {0.5, "1"},                        {-0.5, "-1"},
      {0.50000000000000011, "1"},        {1.4999999999999998, "1"},
      {1.5, "2"},                        {-1.4999999999999998, "-1"},
      {2.4999999999999996, "2"},         {-2.5000000000000004, "-3"},
      {4503599627370495.5, "4,503,599,627,370,496"},   {4503599627370494.5, "4,503,599,627,370,495"},
      {-4503599627370495.5, "-4,503,599,627,370,496"}, {4503599627370497.0, "4,503,599,627,370,497"},
      {9007199254740993.0, "9,007,199,254,740,992"},   {1234567.4999999998, "1,234,567"},
      {1e23, "99,999,999,999,999,991,611,392"},        {5e-324, "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(tov32::FormatNumber("#,##0", c.first), c.second) << c.first;
}

TEST_F(FormatNumberTest, SpanOfTwoDayCountsGivesWholeMilliseconds) {
  const double first = DayCount(44203, 14, 5, 9, 42);
  const double second = DayCount(44203, 14, 5, 10, 276);
  EXPECT_EQ(tov32::FormatNumber("#,##0", (second - first) * 86400000), "1,234");
}

TEST(IntToTextTest, CoversTheWholeRange) {
  EXPECT_EQ(tov32::IntToText(0), "0");
  EXPECT_EQ(tov32::IntToText(-17), "-17");
  EXPECT_EQ(tov32::IntToText(2147483647), "2147483647");
  EXPECT_EQ(tov32::IntToText(-2147483647 - 1), "-2147483648");
}

struct IntCase {
  const char* text;
  std::int32_t expected;
};

TEST(TextToIntDefTest, AcceptsOnlyWholeValidIntegers) {
  const IntCase cases[] = {
      {"8", 8},           {"0", 0},           {"012", 12},          {"   42", 42},
      {"+7", 7},          {"-7", -7},         {"$1F", 31},          {"0x1f", 31},
      {"x1F", 31},        {"X1f", 31},        {"0X1F", 31},         {"-$10", -16},
      {"$FFFFFFFF", -1},  {"$7FFFFFFF", 2147483647},                {"$80000000", -2147483647 - 1},
      {"2147483647", 2147483647},             {"-2147483648", -2147483647 - 1},
      {"2147483648", -99}, {"-2147483649", -99}, {"$100000000", -99}, {"", -99},
      {"   ", -99},       {"-", -99},         {"+", -99},           {"$", -99},
      {"0x", -99},        {"1\r\n", -99},     {"1 ", -99},          {"\t1", -99},
      {"\r1", -99},       {"1a", -99},        {"4\r\r\n4", -99},    {"- 1", -99},
      {"$G", -99},        {"1.5", -99},       {"00000000000000000001", 1},
  };
  for (const IntCase& c : cases) EXPECT_EQ(tov32::TextToIntDef(c.text, -99), c.expected) << '"' << c.text << '"';
}

TEST(TrimBlanksTest, RemovesBytesUpToBlankFromBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"  value  ", "value"},
      {std::string("\0\0value", 7), "value"},
      {"value\r\r\n", "value"},
      {"\t a b \r\n", "a b"},
      {"\xA0value\xA0", "\xA0value\xA0"},
      {" \r\n\t ", ""},
      {"", ""},
      {"4  \r\r\n4  \r\r\n\r\r\n", "4  \r\r\n4"},
  };
  for (const auto& c : cases) EXPECT_EQ(tov32::TrimBlanks(c.first), c.second);
}

TEST(LowerAsciiTest, ChangesOnlyCapitalAsciiLetters) {
  EXPECT_EQ(tov32::LowerAscii("Zarn.EXE"), "zarn.exe");
  EXPECT_EQ(tov32::LowerAscii("\xC4@[`{"), "\xC4@[`{");
}

TEST(TextPosTest, FindsTheFirstExactOccurrence) {
  EXPECT_EQ(tov32::TextPos("ERROR", "ab ERROR ERROR"), 4);
  EXPECT_EQ(tov32::TextPos("ERROR", "error"), 0);
  EXPECT_EQ(tov32::TextPos("", "abc"), 0);
  EXPECT_EQ(tov32::TextPos("a", ""), 0);
  EXPECT_EQ(tov32::TextPos("abc", "abc"), 1);
}

TEST(SubTextTest, CutsAtTheTextsBounds) {
  EXPECT_EQ(tov32::SubText("abcdef", 2, 3), "bcd");
  EXPECT_EQ(tov32::SubText("abcdef", 0, 2), "ab");
  EXPECT_EQ(tov32::SubText("abcdef", -5, 2), "ab");
  EXPECT_EQ(tov32::SubText("abcdef", 5, 100), "ef");
  EXPECT_EQ(tov32::SubText("abcdef", 7, 1), "");
  EXPECT_EQ(tov32::SubText("abcdef", 2, 0), "");
  EXPECT_EQ(tov32::SubText("abcdef", 2, -1), "");
  EXPECT_EQ(tov32::SubText("", 1, 1), "");
}

TEST(ReplaceFirstTest, ReplacesOnlyTheFirstCaseSensitiveOccurrence) {
  EXPECT_EQ(tov32::ReplaceFirst("{timestamp}-{timestamp}", "{timestamp}", "T"), "T-{timestamp}");
  EXPECT_EQ(tov32::ReplaceFirst("{TIMESTAMP}", "{timestamp}", "T"), "{TIMESTAMP}");
  EXPECT_EQ(tov32::ReplaceFirst("C:\\\\Tools", "\\\\", "\\"), "C:\\Tools");
  EXPECT_EQ(tov32::ReplaceFirst("abc", "", "x"), "abc");
  EXPECT_EQ(tov32::ReplaceFirst("", "a", "x"), "");
  EXPECT_EQ(tov32::ReplaceFirst("abc", "c", ""), "ab");
}

TEST(PathDirPartTest, KeepsUpToTheLastDelimiter) {
#ifdef _WIN32
  EXPECT_EQ(tov32::PathDirPart("C:\\Audit\\prog.exe"), "C:\\Audit\\");
  EXPECT_EQ(tov32::PathDirPart("C:prog.exe"), "C:");
  EXPECT_EQ(tov32::PathDirPart("C:\\Audit\\"), "C:\\Audit\\");
  EXPECT_EQ(tov32::PathDirPart("a/b"), "");
#else
  EXPECT_EQ(tov32::PathDirPart("/opt/audit/prog"), "/opt/audit/");
  EXPECT_EQ(tov32::PathDirPart("/opt/audit/"), "/opt/audit/");
  EXPECT_EQ(tov32::PathDirPart("C:\\Audit\\prog.exe"), "");
#endif
  EXPECT_EQ(tov32::PathDirPart("prog.exe"), "");
  EXPECT_EQ(tov32::PathDirPart(""), "");
}

TEST(RegionalSeparatorsTest, UsesWhatTheSystemGivesAndDefaultsOtherwise) {
  norva_test::FakeLocale locale;
  ScopedReplacement<tov32::platform::Locale> use(locale);
  locale.separators = {std::string("."), std::string("")};
  tov32::LoadRegionalSeparators();
  EXPECT_EQ(tov32::FormatNumber("#,##0", 1234567), "1.234.567");
  EXPECT_EQ(tov32::FormatDayTime("HH:NN", 0.5), "1200");
  locale.separators = {std::nullopt, std::nullopt};
  tov32::LoadRegionalSeparators();
  EXPECT_EQ(tov32::FormatNumber("#,##0", 1234567), "1,234,567");
  EXPECT_EQ(tov32::FormatDayTime("HH:NN", 0.5), "12:00");
}

}  // namespace
