// Linux facts, read as the stand-in reads them.
#include "tov32/platform/system_facts.h"

#include <algorithm>

#include "tov32/platform/bare_facts.h"

namespace tov32::platform {
namespace {

constexpr std::size_t kMostPackages = 1024;

class LinuxFacts final : public SystemFacts {
 public:
  std::string OsVersion() override {
    char text[512];
    return std::string(text, bare::OsVersion(text, sizeof text));
  }

  std::string InstallDate() override {
    char text[96];
    return std::string(text, bare::InstallDate(text, sizeof text));
  }

  std::uint64_t TotalVisibleMemoryKb() override { return bare::TotalVisibleMemoryKb(); }

  std::vector<int> CoresPerPackage() override {
    std::vector<int> counts(kMostPackages);
    counts.resize(std::min(bare::CoresPerPackage(counts.data(), counts.size()), counts.size()));
    return counts;
  }
};

}  // namespace

template <>
SystemFacts& Native<SystemFacts>() {
  static LinuxFacts facts;
  return facts;
}

std::string Utf16LeToAnsi(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    text += unit < 128 ? static_cast<char>(unit) : '?';
  }
  return text;
}

std::string CimDateTime(std::int64_t unixSeconds) {
  char text[96];
  return std::string(text, bare::CimDateTime(unixSeconds, text, sizeof text));
}

}  // namespace tov32::platform
