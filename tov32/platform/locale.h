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

}  // namespace tov32::platform
