// ReplaceFirst against a naive search for the first occurrence.
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "tov32/text/formatting.h"

namespace {

bool OccursAt(const std::string& text, const std::string& pattern, std::size_t at) {
  if (at + pattern.size() > text.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (text[at + i] != pattern[i]) return false;
  }
  return true;
}

std::string Model(const std::string& text, const std::string& oldPattern, const std::string& newPattern) {
  if (oldPattern.empty()) return text;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (OccursAt(text, oldPattern, at)) {
      return text.substr(0, at) + newPattern + text.substr(at + oldPattern.size());
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string oldPattern = input.ConsumeRandomLengthString(16);
  const std::string newPattern = input.ConsumeRandomLengthString(16);
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::string got = tov32::ReplaceFirst(text, oldPattern, newPattern);
  norva_fuzz::Check(got == Model(text, oldPattern, newPattern), "replaced", got, Model(text, oldPattern, newPattern));
  return 0;
}
