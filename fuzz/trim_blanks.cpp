// TrimBlanks: the result is the input with only bytes 0 to 32 cut from
// either end, and it neither starts nor ends with one.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tov32/text/formatting.h"

namespace {

bool IsBlank(char byte) { return static_cast<unsigned char>(byte) <= 32; }

std::string Model(const std::string& text) {
  std::string kept = text;
  while (!kept.empty() && IsBlank(kept.front())) kept.erase(kept.begin());
  while (!kept.empty() && IsBlank(kept.back())) kept.pop_back();
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string got = tov32::TrimBlanks(text);
  norva_fuzz::Check(got == Model(text), "trimmed", got, Model(text));
  return 0;
}
