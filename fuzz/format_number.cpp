// FormatNumber against snprintf plus grouping, and the reverse parse: the
// output without separators reads back as the rounded value.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "tov32/text/formatting.h"

namespace {

std::string Grouped(std::string digits, const std::string& separator) {
  for (std::size_t end = digits.size(); end > 3; end -= 3) digits.insert(end - 3, separator);
  return digits;
}

std::string Model(bool grouping, double value, const std::string& separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  const double rounded = std::round(value);
  if (rounded == 0) return "0";
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.0f", std::fabs(rounded));
  return (rounded < 0 ? "-" : "") + (grouping ? Grouped(digits, separator) : std::string(digits));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool grouping = input.ConsumeBool();
  const char separatorByte = input.ConsumeIntegral<char>();
  const std::string separator = separatorByte == '\0' ? std::string() : std::string(1, separatorByte);
  double value = 0;
  const auto raw = input.ConsumeBytes<std::uint8_t>(sizeof value);
  if (!raw.empty()) std::memcpy(&value, raw.data(), raw.size());
  tov32::SetRegionalSeparators(separator, ":");
  const std::string got = tov32::FormatNumber(grouping ? "#,##0" : "0", value);
  norva_fuzz::Check(got == Model(grouping, value, separator), "text", got, Model(grouping, value, separator));
  if (std::isfinite(value) && !(separatorByte >= '0' && separatorByte <= '9')) {
    std::string plain = got.substr(0, 1);  // a leading "-" stays even when it is the separator
    for (char byte : got.substr(1)) {
      if (separator.empty() || byte != separator[0]) plain += byte;
    }
    norva_fuzz::Check(std::strtod(plain.c_str(), nullptr) == std::round(value) + 0.0, "read back", plain);
  }
  return 0;
}
