// Regional separators from the user's locale, read without touching the
// program's global locale so that nothing else in the process shifts.
#include "tov32/platform/locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

namespace tov32::platform {
namespace {

std::optional<std::string> SingleByte(const char* setting) {
  if (setting == nullptr || std::strlen(setting) > 1) return std::nullopt;
  return std::string(setting);
}

// The byte between the hour and the minute of the time format: "%H:%M:%S"
// gives ":", "%H.%M.%S" gives "."; the composite "%T" and "%r" mean ":".
std::optional<std::string> TimeSeparatorOf(const char* format) {
  if (format == nullptr) return std::nullopt;
  const char* hour = std::strstr(format, "%H");
  if (hour == nullptr) hour = std::strstr(format, "%I");
  if (hour == nullptr) hour = std::strstr(format, "%k");
  if (hour == nullptr) hour = std::strstr(format, "%l");
  if (hour == nullptr) {
    if (std::strstr(format, "%T") != nullptr || std::strstr(format, "%r") != nullptr) return ":";
    return std::nullopt;
  }
  const char* minute = std::strstr(hour + 2, "%M");
  if (minute == nullptr) return std::nullopt;
  return SingleByte(std::string(hour + 2, minute).c_str());
}

// "C" and "POSIX", with any character set ("C.UTF-8" is many systems'
// default): no regional setting at all.
bool IsPlainLocale(const char* name) {
  if (name == nullptr) return true;
  for (const char* plain : {"C", "POSIX"}) {
    const std::size_t length = std::strlen(plain);
    if (std::strncmp(name, plain, length) == 0 && (name[length] == '\0' || name[length] == '.')) return true;
  }
  return false;
}

class PosixLocale final : public Locale {
 public:
  RegionalSeparators ReadSeparators() override {
    RegionalSeparators result;
    locale_t user = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0)) return result;
    result.thousands = ThousandsOf(user);
    result.time = TimeSeparatorOf(nl_langinfo_l(T_FMT, user));
    freelocale(user);
    return result;
  }

 private:
  // The C locale has no thousands separator at all: that is "nothing could
  // be read", not an empty setting of the user's.
  static std::optional<std::string> ThousandsOf(locale_t user) {
    if (IsPlainLocale(NumericLocaleName(user))) return std::nullopt;
    return SingleByte(nl_langinfo_l(THOUSEP, user));
  }

  static const char* NumericLocaleName(locale_t user) {
#ifdef _NL_LOCALE_NAME
    return nl_langinfo_l(_NL_LOCALE_NAME(LC_NUMERIC), user);
#else
    const char* separator = nl_langinfo_l(THOUSEP, user);
    return separator == nullptr || *separator == '\0' ? "C" : "user";
#endif
  }
};

}  // namespace

bool IsLeadByte(char) { return false; }

template <>
Locale& Native<Locale>() {
  static PosixLocale locale;
  return locale;
}

}  // namespace tov32::platform
