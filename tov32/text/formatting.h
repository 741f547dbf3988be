// Text, number and time formatting shared by every output of the system.
// Texts are 8-bit byte strings; positions are 1-based and 0 means "none".
#pragma once

#include <cstdint>
#include <string>

namespace tov32 {

// The local wall-clock time as a day count: days since 30 December 1899,
// the fraction being the time of day, to the millisecond.
double LocalNow();

// Renders a day count by a pattern of letter tokens (Y, M, D, H, N, S, Z,
// case-insensitive, repeated for width); ":" writes the time separator and
// every other byte is copied. The value is first rounded to the millisecond.
std::string FormatDayTime(const std::string& pattern, double value);

// Renders a number by a pattern; "#,##0" gives the value rounded half away
// from zero, grouped in threes with the thousands separator, "-" only for a
// non-zero result. Other patterns give the rounded value without grouping.
std::string FormatNumber(const std::string& pattern, double value);

// Plain decimal, "-" for negative values, no grouping or padding.
std::string IntToText(std::int32_t value);

// The integer that `text` spells (blanks before an optional sign, then
// decimal digits or "$"/"x"/"0x" and hex digits, nothing after), or
// `defaultValue` when it spells none or is out of the 32-bit range.
std::int32_t TextToIntDef(const std::string& text, std::int32_t defaultValue);

// As TextToIntDef, telling whether the text is a valid integer instead.
bool TextToInt(const std::string& text, std::int32_t& value);

// Removes every byte of value 0 to 32 from both ends.
std::string TrimBlanks(const std::string& text);

// Turns A to Z into a to z; every other byte stays.
std::string LowerAscii(const std::string& text);

// 1-based position of the first `pattern` in `text`, case-sensitive; 0 when
// absent or when either is empty.
std::int32_t TextPos(const std::string& pattern, const std::string& text);

// `count` bytes from 1-based `start` (below 1 counts as 1), cut at the end.
std::string SubText(const std::string& text, std::int32_t start, std::int32_t count);

// `text` with its first occurrence of `oldPattern` replaced by `newPattern`.
std::string ReplaceFirst(const std::string& text, const std::string& oldPattern,
                         const std::string& newPattern);

// The path up to and including its last directory delimiter ("\" or ":" on
// Windows, "/" elsewhere); empty when it has none.
std::string PathDirPart(const std::string& path);

// Reads the user's thousands and time separators once, at program start.
// A setting that cannot be read keeps its default ("," and ":").
void LoadRegionalSeparators();

// Sets both separators, each one byte or empty, for host programs and tests.
void SetRegionalSeparators(const std::string& thousands, const std::string& time);

}  // namespace tov32
