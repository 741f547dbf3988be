// SubText against a byte-by-byte walk over 1-based positions.
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "tov32/text/formatting.h"

namespace {

std::string Model(const std::string& text, std::int32_t start, std::int32_t count) {
  const std::int64_t first = start < 1 ? 1 : start;
  const std::int64_t end = first + static_cast<std::int64_t>(count);  // one past the last position
  std::string part;
  for (std::int64_t position = 1; position <= static_cast<std::int64_t>(text.size()); ++position) {
    if (position >= first && position < end) part += text[static_cast<std::size_t>(position - 1)];
  }
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto start = input.ConsumeIntegral<std::int32_t>();
  const auto count = input.ConsumeIntegral<std::int32_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::string got = tov32::SubText(text, start, count);
  norva_fuzz::Check(got == Model(text, start, count), "part", got, Model(text, start, count));
  return 0;
}
