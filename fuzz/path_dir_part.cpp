// PathDirPart: the longest prefix that ends in a directory delimiter.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tov32/platform/machine.h"
#include "tov32/text/formatting.h"

namespace {

std::string Model(const std::string& path) {
  for (std::size_t length = path.size(); length > 0; --length) {
    const char byte = path[length - 1];
    if (byte != '\0' && std::strchr(tov32::platform::kPathDelimiters, byte) != nullptr) return path.substr(0, length);
  }
  return std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string got = tov32::PathDirPart(path);
  norva_fuzz::Check(got == Model(path), "directory", got, Model(path));
  return 0;
}
