// FormatDayTime of any pattern must not fail; with a fixed pattern, its
// fields must agree with the C library's calendar for years 1 to 9999.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "tov32/text/formatting.h"

namespace {

constexpr double kFirstDay = -693593;   // 1 January 0001
constexpr double kLastDay = 2958465;    // 31 December 9999
constexpr std::int64_t kUnixEpochDay = 25569;

std::string Model(double value) {
  const auto ms = static_cast<std::int64_t>(std::llround(value * 86400000.0));
  const std::int64_t seconds = (ms >= 0 ? ms : ms - 999) / 1000;
  const std::int64_t milliseconds = ms - seconds * 1000;
  const auto unixSeconds = static_cast<std::time_t>(seconds - kUnixEpochDay * 86400);
  std::tm parts{};
  gmtime_r(&unixSeconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(milliseconds));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const double anyValue = input.ConsumeFloatingPoint<double>();
  const double dayCount = input.ConsumeFloatingPointInRange<double>(kFirstDay, kLastDay);
  const std::string pattern = input.ConsumeRemainingBytesAsString();
  tov32::SetRegionalSeparators(",", ":");
  const std::string any = tov32::FormatDayTime(pattern, anyValue);
  norva_fuzz::Check(any.size() <= pattern.size() * 20 + 8, "length", any);
  const std::string got = tov32::FormatDayTime("yyyy-mm-dd hh:nn:ss.zzz", dayCount);
  norva_fuzz::Check(got == Model(dayCount), "fields", got, Model(dayCount));
  return 0;
}
