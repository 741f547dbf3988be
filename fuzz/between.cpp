// Between against a direct reading of its rule: after the first start
// delimiter, up to the first end delimiter that follows it.
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "tov32/text/between.h"

namespace {

std::string Model(const std::string& subject, const std::string& startDelimiter, const std::string& endDelimiter) {
  const std::size_t start = subject.find(startDelimiter);
  if (subject.empty() || start == std::string::npos) return std::string();
  std::string rest = subject.substr(start + startDelimiter.size());
  if (!endDelimiter.empty() && !rest.empty()) {
    if (const std::size_t end = rest.find(endDelimiter); end != std::string::npos) rest.resize(end);
  }
  return rest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string startDelimiter = input.ConsumeRandomLengthString(8);
  const std::string endDelimiter = input.ConsumeRandomLengthString(8);
  const std::string subject = input.ConsumeRemainingBytesAsString();
  const std::string got = tov32::Between(subject, startDelimiter, endDelimiter);
  const std::string wanted = Model(subject, startDelimiter, endDelimiter);
  norva_fuzz::Check(got == wanted, "between", got, wanted);
  return 0;
}
