// On Windows the stand-in only serves the tests under Wine: the facts come
// from the ordinary backend.
#include "tov32/platform/bare_facts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tov32/platform/console.h"
#include "tov32/platform/system_facts.h"

namespace tov32::platform::bare {
namespace {

std::size_t CopyText(const std::string& source, char* text, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t length = std::min(source.size(), size - 1);
  std::memcpy(text, source.data(), length);
  text[length] = '\0';
  return length;
}

}  // namespace

std::size_t OsVersion(char* text, std::size_t size) {
  return CopyText(Native<SystemFacts>().OsVersion(), text, size);
}

std::size_t InstallDate(char* text, std::size_t size) {
  return CopyText(Native<SystemFacts>().InstallDate(), text, size);
}

std::size_t CimDateTime(std::int64_t unixSeconds, char* text, std::size_t size) {
  return CopyText(platform::CimDateTime(unixSeconds), text, size);
}

std::uint64_t TotalVisibleMemoryKb() { return Native<SystemFacts>().TotalVisibleMemoryKb(); }

std::size_t CoresPerPackage(int* counts, std::size_t capacity) {
  const std::vector<int> packages = Native<SystemFacts>().CoresPerPackage();
  std::copy_n(packages.begin(), std::min(packages.size(), capacity), counts);
  return packages.size();
}

void DrainStandardInput() {
  if (StandardInputIsConsole()) return;
  char buffer[4096];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
}

bool WriteStandardOutput(const char* bytes, std::size_t count) {
  return Native<Console>().WriteStandardOutput(std::string_view(bytes, count)) == 0;
}

}  // namespace tov32::platform::bare
