#include "tov32/platform/system_facts.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

namespace platform = tov32::platform;

TEST(SystemFactsTest, AnswersEveryPropertyInTheToolsForm) {
  platform::SystemFacts& facts = platform::Native<platform::SystemFacts>();
  EXPECT_TRUE(std::regex_match(facts.OsVersion(), std::regex(R"(\d+\.\d+.*)"))) << facts.OsVersion();
  const std::string installed = facts.InstallDate();
  EXPECT_TRUE(std::regex_match(installed, std::regex(R"(\d{14}\.000000[+-]\d{3})"))) << installed;
  EXPECT_GT(facts.TotalVisibleMemoryKb(), 1024u);
  const std::vector<int> cores = facts.CoresPerPackage();
  ASSERT_FALSE(cores.empty());
  for (int count : cores) EXPECT_GT(count, 0);
}

TEST(CimDateTimeTest, WritesLocalTimeWithItsOffsetInMinutes) {
  const std::string text = platform::CimDateTime(1610028309);  // 2021-01-07 14:05:09 UTC
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(text, parts, std::regex(R"((\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})\.000000([+-])(\d{3}))")))
      << text;
  const int offset = std::stoi(parts[8]) * (parts[7] == "-" ? -1 : 1);
  const int minutesOfDay = std::stoi(parts[4]) * 60 + std::stoi(parts[5]);
  EXPECT_EQ(((minutesOfDay - offset) % 1440 + 1440) % 1440, 14 * 60 + 5);
  EXPECT_EQ(parts[6], "09");
}

TEST(Utf16LeToAnsiTest, ConvertsAsciiAndDropsAnOddByte) {
  EXPECT_EQ(platform::Utf16LeToAnsi(std::string("4\0" "2\0\r\0\n\0x", 9)), "42\r\n");
  EXPECT_EQ(platform::Utf16LeToAnsi(""), "");
}

}  // namespace
