// Paths and replacements in a double-byte ANSI code page (932 under Wine,
// with a Japanese locale made for the test); on POSIX texts are bytes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tov32/platform/locale.h"
#include "tov32/text/formatting.h"

namespace {

#ifdef _WIN32
// 95 5C is one character of code page 932 whose second byte is a backslash.
TEST(DoubleByteTest, TrailByteIsNoDelimiter) {
  if (!tov32::platform::IsLeadByte('\x95')) {
    if (std::getenv("NORVA_EXPECT_DOUBLE_BYTE") != nullptr) FAIL() << "the ANSI code page is not double-byte";
    GTEST_SKIP() << "the ANSI code page has no double-byte characters";
  }
  EXPECT_EQ(tov32::PathDirPart("C:\\Tools\\\x95\x5C.exe"), "C:\\Tools\\");
  EXPECT_EQ(tov32::PathDirPart("C:\\Tools\\\x95\x5C\\prog.exe"), "C:\\Tools\\\x95\x5C\\");
  EXPECT_EQ(tov32::ReplaceFirst("\x95\x5C\x5C", "\x5C", "/"), "\x95\x5C/");
  EXPECT_EQ(tov32::ReplaceFirst("a\x95\x5C", "\x5C", "/"), "a\x95\x5C");
  EXPECT_EQ(tov32::ReplaceFirst("\\\\x", "\\\\", "\\"), "\\x");
}
#else
TEST(DoubleByteTest, PosixTakesTextsAsBytes) {
  EXPECT_FALSE(tov32::platform::IsLeadByte('\x95'));
  EXPECT_EQ(tov32::PathDirPart("/Tools/\x95/prog"), "/Tools/\x95/");
  EXPECT_EQ(tov32::ReplaceFirst("\x95\x5C\x5C", "\x5C", "/"), "\x95/\x5C");
}
#endif

}  // namespace
