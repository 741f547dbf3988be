// The user's regional separators, as the system reports them.
#pragma once

#include <optional>
#include <string>

#include "tov32/platform/seam.h"

namespace tov32::platform {

struct RegionalSeparators {
  // Each is empty (nullopt) where the setting could not be read or is longer
  // than one byte; an empty string is a setting that is itself empty.
  std::optional<std::string> thousands;
  std::optional<std::string> time;
};

class Locale {
 public:
  virtual ~Locale() = default;
  virtual RegionalSeparators ReadSeparators() = 0;
};

template <>
Locale& Native<Locale>();

// Whether `byte` begins a two-byte character in the system's ANSI code
// page, so that the byte after it belongs to it (a 0x5C there is no
// backslash). Never on POSIX, where texts are taken as bytes.
bool IsLeadByte(char byte);

}  // namespace tov32::platform
