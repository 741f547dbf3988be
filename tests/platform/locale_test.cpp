#include "tov32/platform/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

#ifndef _WIN32
// Sets LC_ALL for its lifetime.
class ScopedLocaleVariable {
 public:
  explicit ScopedLocaleVariable(const char* value) {
    if (const char* old = std::getenv("LC_ALL")) previous_ = old;
    setenv("LC_ALL", value, 1);
  }
  ~ScopedLocaleVariable() { previous_ ? setenv("LC_ALL", previous_->c_str(), 1) : unsetenv("LC_ALL"); }
  ScopedLocaleVariable(const ScopedLocaleVariable&) = delete;
  ScopedLocaleVariable& operator=(const ScopedLocaleVariable&) = delete;

 private:
  std::optional<std::string> previous_;
};

// The plain locales hold no regional setting, whatever their character set:
// the program's defaults apply, not an empty separator.
TEST(RegionalSeparatorsTest, PlainLocalesHoldNoThousandsSeparator) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8"}) {
    ScopedLocaleVariable use(name);
    EXPECT_FALSE(tov32::platform::Native<tov32::platform::Locale>().ReadSeparators().thousands.has_value()) << name;
  }
}
#endif

}  // namespace
