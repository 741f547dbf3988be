// Facts about the operating system read straight from it, for when the
// management command-line tool cannot be run, and for its POSIX stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tov32/platform/seam.h"

namespace tov32::platform {

class SystemFacts {
 public:
  virtual ~SystemFacts() = default;
  // major.minor.build on Windows; the kernel release elsewhere. Empty if unknown.
  virtual std::string OsVersion() = 0;
  // The install time as yyyymmddHHMMSS.000000+ZZZ (local time, offset in
  // minutes east of UTC). Empty if unknown.
  virtual std::string InstallDate() = 0;
  // Kilobytes of physical memory visible to the system; 0 if unknown.
  virtual std::uint64_t TotalVisibleMemoryKb() = 0;
  // Physical cores of each processor package; empty if unknown.
  virtual std::vector<int> CoresPerPackage() = 0;
};

template <>
SystemFacts& Native<SystemFacts>();

// UTF-16LE bytes (no byte-order mark) as 8-bit text: the ANSI code page on
// Windows; ASCII elsewhere, any other character as "?".
std::string Utf16LeToAnsi(std::string_view bytes);

// Formats a moment (seconds since 1970, UTC) as the management tool's CIM
// date-time in local time: yyyymmddHHMMSS.000000+ZZZ.
std::string CimDateTime(std::int64_t unixSeconds);

}  // namespace tov32::platform
