// Win32 regional separators: one byte each, as GetLocaleInfoA gives them.
#include "tov32/platform/locale.h"

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {
namespace {

// A two-byte buffer: a longer setting makes the call fail.
std::optional<std::string> ReadSetting(LCTYPE setting) {
  char buffer[2] = {};
  if (GetLocaleInfoA(GetThreadLocale(), setting, buffer, sizeof buffer) == 0) return std::nullopt;
  return std::string(buffer, buffer[0] == '\0' ? 0 : 1);
}

class Win32Locale final : public Locale {
 public:
  RegionalSeparators ReadSeparators() override {
    return RegionalSeparators{ReadSetting(LOCALE_STHOUSAND), ReadSetting(LOCALE_STIME)};
  }
};

}  // namespace

bool IsLeadByte(char byte) { return IsDBCSLeadByte(static_cast<BYTE>(byte)) != 0; }

template <>
Locale& Native<Locale>() {
  static Win32Locale locale;
  return locale;
}

}  // namespace tov32::platform
