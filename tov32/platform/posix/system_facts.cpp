// Linux facts: the kernel release, an install-time marker, /proc/meminfo
// and the CPU topology in sysfs.
#include "tov32/platform/system_facts.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tov32::platform {
namespace {

// Seconds since 1970 when `path` was born (or, failing that and
// `modificationWillDo`, last written); 0 when neither is known.
std::int64_t MarkerTime(const char* path, bool modificationWillDo) {
  struct statx status {};
  if (statx(AT_FDCWD, path, 0, STATX_BTIME | STATX_MTIME, &status) != 0) return 0;
  if ((status.stx_mask & STATX_BTIME) != 0 && status.stx_btime.tv_sec > 0) return status.stx_btime.tv_sec;
  if (modificationWillDo && (status.stx_mask & STATX_MTIME) != 0) return status.stx_mtime.tv_sec;
  return 0;
}

// The install time, from the most reliable marker present: the Debian
// installer's log folder, then the root file system's birth, then the
// machine identity that the first boot writes once.
std::int64_t InstallTime() {
  if (std::int64_t installer = MarkerTime("/var/log/installer", true)) return installer;
  if (std::int64_t root = MarkerTime("/", false)) return root;
  return MarkerTime("/etc/machine-id", true);
}

bool ReadNumber(const std::string& path, int& number) {
  std::ifstream file(path);
  return static_cast<bool>(file >> number);
}

// Distinct cores per package from sysfs; empty where sysfs has no topology.
std::map<int, std::set<int>> CoresFromSysfs() {
  std::map<int, std::set<int>> packages;
  glob_t cpus{};
  if (glob("/sys/devices/system/cpu/cpu[0-9]*/topology", 0, nullptr, &cpus) == 0) {
    for (std::size_t i = 0; i < cpus.gl_pathc; ++i) {
      const std::string topology = cpus.gl_pathv[i];
      int package = 0, core = 0;
      if (ReadNumber(topology + "/physical_package_id", package) && ReadNumber(topology + "/core_id", core)) {
        packages[package].insert(core);
      }
    }
  }
  globfree(&cpus);
  return packages;
}

class LinuxFacts final : public SystemFacts {
 public:
  std::string OsVersion() override {
    utsname names{};
    return uname(&names) == 0 ? std::string(names.release) : std::string();
  }

  std::string InstallDate() override {
    const std::int64_t seconds = InstallTime();
    return seconds > 0 ? CimDateTime(seconds) : std::string();
  }

  std::uint64_t TotalVisibleMemoryKb() override {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kilobytes = 0;
    while (meminfo >> key >> kilobytes) {
      if (key == "MemTotal:") return kilobytes;
      meminfo.ignore(256, '\n');
    }
    return 0;
  }

  std::vector<int> CoresPerPackage() override {
    std::vector<int> counts;
    for (const auto& package : CoresFromSysfs()) counts.push_back(static_cast<int>(package.second.size()));
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
  const auto moment = static_cast<time_t>(unixSeconds);
  tm local{};
  if (localtime_r(&moment, &local) == nullptr) return std::string();
  const long offsetMinutes = local.tm_gmtoff / 60;
  char text[96];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.000000%c%03ld", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+',
                offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
  return text;
}

}  // namespace tov32::platform
