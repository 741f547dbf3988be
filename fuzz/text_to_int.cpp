// TextToIntDef against a slow, obvious parser of the same grammar.
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tov32/text/formatting.h"

namespace {

bool AllOf(const std::string& digits, int (*isDigit)(int)) {
  if (digits.empty()) return false;
  for (unsigned char byte : digits) {
    if (!isDigit(byte)) return false;
  }
  return true;
}

std::string WithoutLeadingZeros(const std::string& digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

std::optional<std::int32_t> Model(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const std::string rest = text.substr(at);
  std::size_t prefix = 0;
  if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) prefix = 1;
  else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) prefix = 2;
  const std::string digits = rest.substr(prefix);
  if (prefix > 0) {
    if (!AllOf(digits, isxdigit)) return std::nullopt;
    const std::string significant = WithoutLeadingZeros(digits);
    if (significant.size() > 8) return std::nullopt;
    const auto magnitude = static_cast<std::uint32_t>(std::stoul(significant, nullptr, 16));
    return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
  }
  if (!AllOf(digits, isdigit)) return std::nullopt;
  const std::string significant = WithoutLeadingZeros(digits);
  if (significant.size() > 10) return std::nullopt;
  const long long value = (negative ? -1 : 1) * std::stoll(significant);
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::int32_t> wanted = Model(text);
  std::int32_t value = 0;
  const bool valid = tov32::TextToInt(text, value);
  norva_fuzz::Check(valid == wanted.has_value(), "validity", text);
  if (valid) norva_fuzz::Check(value == *wanted, "value", std::to_string(value), std::to_string(*wanted));
  const std::int32_t fallback = -12345;
  norva_fuzz::Check(tov32::TextToIntDef(text, fallback) == wanted.value_or(fallback), "default", text);
  return 0;
}
