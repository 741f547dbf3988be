// Text, number and time formatting.
#include "tov32/text/formatting.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "tov32/platform/clock.h"
#include "tov32/platform/locale.h"
#include "tov32/platform/machine.h"

namespace tov32 {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86400000;
constexpr std::int64_t kUnixEpochDayCount = 25569;  // 1 January 1970

std::string gThousandsSeparator = ",";
std::string gTimeSeparator = ":";

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's
// algorithm), and its inverse.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

struct DayTimeParts {
  std::int64_t year;
  unsigned month, day, hour, minute, second, millisecond;
};

DayTimeParts SplitDayCount(double value) {
  const auto total = static_cast<std::int64_t>(std::llround(value * kMillisecondsPerDay));
  std::int64_t days = total / kMillisecondsPerDay;
  std::int64_t ofDay = total % kMillisecondsPerDay;
  if (ofDay < 0) {
    ofDay += kMillisecondsPerDay;
    --days;
  }
  const CivilDate date = CivilFromDays(days - kUnixEpochDayCount);
  const auto ms = static_cast<unsigned>(ofDay);
  return {date.year, date.month, date.day, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
}

// To the nearest whole number, halves away from zero, decided on the exact
// value: its distance to the whole number below is exact in binary, which
// no double has more than 18 significant digits to blur. Some C runtimes'
// round() adds one half first, and 0.49999999999999994 + 0.5 is 1.
double RoundHalfAwayFromZero(double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < 4503599627370496.0)) return value;  // 2^52 and above are whole
  double whole = std::floor(magnitude);
  if (magnitude - whole >= 0.5) whole += 1;
  return std::copysign(whole, value);
}

void AppendPadded(std::string& out, std::int64_t value, int width) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value).ptr;
  const auto length = static_cast<int>(end - digits);
  if (value < 0) out += '-';
  if (length < width) out.append(static_cast<std::size_t>(width - length), '0');
  out.append(digits, static_cast<std::size_t>(length));
}

// One token of a date-time pattern: `letter` upper-cased, `count` copies.
void AppendToken(std::string& out, char letter, std::size_t count, bool minuteContext,
                 const DayTimeParts& parts) {
  const int wide = count >= 2 ? 2 : 1;
  switch (letter) {
    case 'Y':
      if (count <= 2) AppendPadded(out, parts.year % 100, 2);
      else AppendPadded(out, parts.year, 4);
      return;
    case 'M':
      AppendPadded(out, minuteContext ? parts.minute : parts.month, wide);
      return;
    case 'D': AppendPadded(out, parts.day, wide); return;
    case 'H': AppendPadded(out, parts.hour, wide); return;
    case 'N': AppendPadded(out, parts.minute, wide); return;
    case 'S': AppendPadded(out, parts.second, wide); return;
    case 'Z': AppendPadded(out, parts.millisecond, count >= 3 ? 3 : static_cast<int>(count)); return;
    default: out.append(count, letter); return;
  }
}

bool IsAsciiLetter(char byte) { return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'); }

char UpperAscii(char byte) { return byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 32) : byte; }

void AppendGroupedDigits(std::string& out, const char* digits, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (i > 0 && (length - i) % 3 == 0) out += gThousandsSeparator;
    out += digits[i];
  }
}

int HexDigitValue(char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// Reads the digits from `position` to the end in `base`; false when there
// are none, a byte is no digit, or the value exceeds `limit`.
bool ReadMagnitude(const std::string& text, std::size_t position, int base, std::uint64_t limit,
                   std::uint64_t& magnitude) {
  if (position >= text.size()) return false;
  magnitude = 0;
  for (; position < text.size(); ++position) {
    const int digit = HexDigitValue(text[position]);
    if (digit < 0 || digit >= base) return false;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (magnitude > limit) return false;
  }
  return true;
}

std::size_t HexPrefixLength(const std::string& text, std::size_t position) {
  const char first = position < text.size() ? text[position] : '\0';
  if (first == '$' || first == 'x' || first == 'X') return 1;
  const char second = position + 1 < text.size() ? text[position + 1] : '\0';
  return first == '0' && (second == 'x' || second == 'X') ? 2 : 0;
}

}  // namespace

double LocalNow() {
  const platform::CivilTime now = platform::Use<platform::Clock>().LocalTime();
  const std::int64_t days = DaysFromCivil(now.year, static_cast<unsigned>(now.month),
                                          static_cast<unsigned>(now.day)) + kUnixEpochDayCount;
  const std::int64_t ms = ((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond;
  return static_cast<double>(days) + static_cast<double>(ms) / kMillisecondsPerDay;
}

std::string FormatDayTime(const std::string& pattern, double value) {
  const DayTimeParts parts = SplitDayCount(value);
  std::string out;
  out.reserve(pattern.size() + 8);
  bool afterHour = false;
  for (std::size_t i = 0; i < pattern.size();) {
    const char byte = pattern[i];
    if (!IsAsciiLetter(byte)) {
      if (byte == ':') out += gTimeSeparator;
      else out += byte;
      ++i;
      continue;
    }
    std::size_t count = 1;
    while (i + count < pattern.size() && pattern[i + count] == byte) ++count;
    const char letter = UpperAscii(byte);
    AppendToken(out, letter, count, afterHour && letter == 'M', parts);
    afterHour = letter == 'H';
    i += count;
  }
  return out;
}

std::string FormatNumber(const std::string& pattern, double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  const double rounded = RoundHalfAwayFromZero(value);
  if (rounded == 0) return "0";
  char digits[320];
  const int length = std::snprintf(digits, sizeof digits, "%.0f", std::fabs(rounded));
  std::string out;
  out.reserve(static_cast<std::size_t>(length) + static_cast<std::size_t>(length) / 3 + 1);
  if (rounded < 0) out += '-';
  if (pattern.find(',') != std::string::npos) {
    AppendGroupedDigits(out, digits, static_cast<std::size_t>(length));
  } else {
    out.append(digits, static_cast<std::size_t>(length));
  }
  return out;
}

std::string IntToText(std::int32_t value) { return std::to_string(value); }

bool TextToInt(const std::string& text, std::int32_t& value) {
  std::size_t position = text.find_first_not_of(' ');
  if (position == std::string::npos) return false;
  const bool negative = text[position] == '-';
  if (text[position] == '-' || text[position] == '+') ++position;
  std::uint64_t magnitude = 0;
  if (const std::size_t prefix = HexPrefixLength(text, position); prefix > 0) {
    if (!ReadMagnitude(text, position + prefix, 16, 0xFFFFFFFFull, magnitude)) return false;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(negative ? 0u - magnitude : magnitude));
    return true;
  }
  if (!ReadMagnitude(text, position, 10, negative ? 2147483648ull : 2147483647ull, magnitude)) return false;
  value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                             : static_cast<std::int64_t>(magnitude));
  return true;
}

std::int32_t TextToIntDef(const std::string& text, std::int32_t defaultValue) {
  std::int32_t value = 0;
  return TextToInt(text, value) ? value : defaultValue;
}

std::string TrimBlanks(const std::string& text) {
  auto isBlank = [](char byte) { return static_cast<unsigned char>(byte) <= 32; };
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isBlank(text[first])) ++first;
  while (last > first && isBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string LowerAscii(const std::string& text) {
  std::string lower = text;
  for (char& byte : lower) {
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + 32);
  }
  return lower;
}

std::int32_t TextPos(const std::string& pattern, const std::string& text) {
  if (pattern.empty() || text.empty()) return 0;
  const std::size_t found = text.find(pattern);
  return found == std::string::npos ? 0 : static_cast<std::int32_t>(found + 1);
}

std::string SubText(const std::string& text, std::int32_t start, std::int32_t count) {
  if (count <= 0 || text.empty()) return std::string();
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (from >= text.size()) return std::string();
  return text.substr(from, static_cast<std::size_t>(count));
}

namespace {

// The start of the character after the one that starts at `position`: a
// lead byte of a double-byte code page takes the byte after it along.
std::size_t NextCharacter(const std::string& text, std::size_t position) {
  return position + (platform::IsLeadByte(text[position]) && position + 1 < text.size() ? 2 : 1);
}

// The first occurrence of `pattern` that begins a character, not one that
// begins inside a double-byte character.
std::size_t FindAtCharacter(const std::string& text, const std::string& pattern) {
  std::size_t character = 0;
  for (std::size_t found = text.find(pattern); found != std::string::npos; found = text.find(pattern, found + 1)) {
    while (character < found) character = NextCharacter(text, character);
    if (character == found) return found;
  }
  return std::string::npos;
}

}  // namespace

std::string ReplaceFirst(const std::string& text, const std::string& oldPattern,
                         const std::string& newPattern) {
  const std::size_t found = oldPattern.empty() ? std::string::npos : FindAtCharacter(text, oldPattern);
  if (found == std::string::npos) return text;
  std::string replaced;
  replaced.reserve(text.size() - oldPattern.size() + newPattern.size());
  replaced.append(text, 0, found).append(newPattern).append(text, found + oldPattern.size());
  return replaced;
}

std::string PathDirPart(const std::string& path) {
  const std::string_view delimiters = platform::kPathDelimiters;
  std::size_t end = 0;  // after the last delimiter that is a character of its own
  for (std::size_t character = 0; character < path.size(); character = NextCharacter(path, character)) {
    if (delimiters.find(path[character]) != std::string_view::npos) end = character + 1;
  }
  return path.substr(0, end);
}

void LoadRegionalSeparators() {
  const platform::RegionalSeparators read = platform::Use<platform::Locale>().ReadSeparators();
  SetRegionalSeparators(read.thousands.value_or(","), read.time.value_or(":"));
}

void SetRegionalSeparators(const std::string& thousands, const std::string& time) {
  gThousandsSeparator = thousands.substr(0, 1);
  gTimeSeparator = time.substr(0, 1);
}

}  // namespace tov32
