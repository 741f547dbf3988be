// Linux facts for the stand-in, from the C library alone: the kernel
// release, an install-time marker, /proc/meminfo and the CPU topology in
// sysfs.
#include "tov32/platform/bare_facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tov32::platform::bare {
namespace {

std::size_t CopyText(const char* source, char* text, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t length = std::min(std::strlen(source), size - 1);
  std::memcpy(text, source, length);
  text[length] = '\0';
  return length;
}

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

// The start of a small file's content, zero-terminated; its length, or -1.
long ReadSmallFile(const char* path, char* buffer, std::size_t size) {
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return -1;
  std::size_t length = 0;
  while (length + 1 < size) {
    const ssize_t count = read(file, buffer + length, size - 1 - length);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    length += static_cast<std::size_t>(count);
  }
  close(file);
  buffer[length] = '\0';
  return static_cast<long>(length);
}

bool ReadNumber(const char* path, long& number) {
  char text[32];
  if (ReadSmallFile(path, text, sizeof text) <= 0) return false;
  char* end = nullptr;
  errno = 0;
  number = std::strtol(text, &end, 10);
  return end != text && errno == 0;
}

struct CoreId {
  long package;
  long core;
};

int CompareCores(const void* left, const void* right) {
  const auto* a = static_cast<const CoreId*>(left);
  const auto* b = static_cast<const CoreId*>(right);
  if (a->package != b->package) return a->package < b->package ? -1 : 1;
  return a->core < b->core ? -1 : (a->core > b->core ? 1 : 0);
}

bool IsCpuEntry(const char* name) {
  if (std::strncmp(name, "cpu", 3) != 0 || name[3] == '\0') return false;
  for (const char* digit = name + 3; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
  }
  return true;
}

// The package and core of every CPU that sysfs shows a topology for, into
// a buffer the caller frees; their number in `count`.
CoreId* SysfsCores(std::size_t& count) {
  count = 0;
  DIR* cpus = opendir("/sys/devices/system/cpu");
  if (cpus == nullptr) return nullptr;
  CoreId* cores = nullptr;
  std::size_t capacity = 0;
  while (const dirent* entry = readdir(cpus)) {
    if (!IsCpuEntry(entry->d_name)) continue;
    char path[512];
    CoreId id{};
    std::snprintf(path, sizeof path, "/sys/devices/system/cpu/%s/topology/physical_package_id", entry->d_name);
    if (!ReadNumber(path, id.package)) continue;
    std::snprintf(path, sizeof path, "/sys/devices/system/cpu/%s/topology/core_id", entry->d_name);
    if (!ReadNumber(path, id.core)) continue;
    if (count == capacity) {
      capacity = capacity == 0 ? 64 : capacity * 2;
      auto* grown = static_cast<CoreId*>(std::realloc(cores, capacity * sizeof(CoreId)));
      if (grown == nullptr) break;
      cores = grown;
    }
    cores[count++] = id;
  }
  closedir(cpus);
  return cores;
}

}  // namespace

std::size_t OsVersion(char* text, std::size_t size) {
  utsname names{};
  return uname(&names) == 0 ? CopyText(names.release, text, size) : CopyText("", text, size);
}

std::size_t CimDateTime(std::int64_t unixSeconds, char* text, std::size_t size) {
  const auto moment = static_cast<time_t>(unixSeconds);
  tm local{};
  if (localtime_r(&moment, &local) == nullptr) return CopyText("", text, size);
  const long offsetMinutes = local.tm_gmtoff / 60;
  const int length = std::snprintf(text, size, "%04d%02d%02d%02d%02d%02d.000000%c%03ld", local.tm_year + 1900,
                                   local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                   offsetMinutes < 0 ? '-' : '+', offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
  if (length < 0 || static_cast<std::size_t>(length) >= size) return CopyText("", text, size);
  return static_cast<std::size_t>(length);
}

std::size_t InstallDate(char* text, std::size_t size) {
  const std::int64_t seconds = InstallTime();
  return seconds > 0 ? CimDateTime(seconds, text, size) : CopyText("", text, size);
}

std::uint64_t TotalVisibleMemoryKb() {
  char meminfo[8192];
  if (ReadSmallFile("/proc/meminfo", meminfo, sizeof meminfo) <= 0) return 0;
  for (const char* line = meminfo; line != nullptr && *line != '\0';) {
    if (std::strncmp(line, "MemTotal:", 9) == 0) return std::strtoull(line + 9, nullptr, 10);
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return 0;
}

std::size_t CoresPerPackage(int* counts, std::size_t capacity) {
  std::size_t count = 0;
  CoreId* cores = SysfsCores(count);
  if (cores == nullptr) return 0;
  std::qsort(cores, count, sizeof(CoreId), CompareCores);
  std::size_t packages = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const bool newPackage = i == 0 || cores[i].package != cores[i - 1].package;
    const bool newCore = newPackage || cores[i].core != cores[i - 1].core;
    if (newPackage) ++packages;
    if (newCore && packages <= capacity) {
      if (newPackage) counts[packages - 1] = 0;
      ++counts[packages - 1];
    }
  }
  std::free(cores);
  return packages;
}

void DrainStandardInput() {
  if (isatty(STDIN_FILENO) != 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
  }
}

bool WriteStandardOutput(const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = write(STDOUT_FILENO, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace tov32::platform::bare
