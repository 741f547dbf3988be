// Windows facts read straight from the system.
#include "tov32/platform/system_facts.h"

#include <cstdio>
#include <vector>

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {
namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

// The install time in seconds since 1970, 0 when the key lacks it.
std::int64_t InstallTime() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD seconds = 0, type = 0, size = sizeof seconds;
  const bool read = RegQueryValueExA(key, "InstallDate", nullptr, &type, reinterpret_cast<BYTE*>(&seconds), &size) ==
                        ERROR_SUCCESS &&
                    type == REG_DWORD;
  RegCloseKey(key);
  return read ? seconds : 0;
}

// Whether two processor masks of the same group share a processor.
bool Overlap(const GROUP_AFFINITY& a, const GROUP_AFFINITY& b) { return a.Group == b.Group && (a.Mask & b.Mask) != 0; }

std::vector<char> ProcessorRelations() {
  DWORD size = 0;
  GetLogicalProcessorInformationEx(RelationAll, nullptr, &size);
  std::vector<char> buffer(size);
  if (size == 0 || !GetLogicalProcessorInformationEx(
                       RelationAll, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data()), &size)) {
    return {};
  }
  buffer.resize(size);
  return buffer;
}

class Win32Facts final : public SystemFacts {
 public:
  // GetVersionEx reports an older version to programs without a manifest.
  std::string OsVersion() override {
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                  version.dwBuildNumber);
    return text;
  }

  std::string InstallDate() override {
    const std::int64_t seconds = InstallTime();
    return seconds > 0 ? CimDateTime(seconds) : std::string();
  }

  std::uint64_t TotalVisibleMemoryKb() override {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys / 1024 : 0;
  }

  std::vector<int> CoresPerPackage() override {
    const std::vector<char> relations = ProcessorRelations();
    std::vector<std::vector<GROUP_AFFINITY>> packages;
    std::vector<GROUP_AFFINITY> cores;
    for (std::size_t offset = 0; offset < relations.size();) {
      const auto* entry = reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(relations.data() + offset);
      const PROCESSOR_RELATIONSHIP& processor = entry->Processor;
      if (entry->Relationship == RelationProcessorPackage) {
        packages.emplace_back(processor.GroupMask, processor.GroupMask + processor.GroupCount);
      } else if (entry->Relationship == RelationProcessorCore) {
        cores.push_back(processor.GroupMask[0]);
      }
      if (entry->Size == 0) break;
      offset += entry->Size;
    }
    std::vector<int> counts;
    for (const auto& package : packages) {
      int count = 0;
      for (const GROUP_AFFINITY& core : cores) {
        for (const GROUP_AFFINITY& part : package) count += Overlap(core, part) ? 1 : 0;
      }
      counts.push_back(count);
    }
    return counts;
  }
};

// Windows file times count 100 ns steps from 1601.
constexpr std::int64_t kFileTimeOf1970 = 116444736000000000LL;

SYSTEMTIME SystemTimeOf(std::int64_t unixSeconds) {
  const std::int64_t ticks = unixSeconds * 10000000LL + kFileTimeOf1970;
  FILETIME fileTime{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME time{};
  FileTimeToSystemTime(&fileTime, &time);
  return time;
}

std::int64_t SecondsOf(const SYSTEMTIME& time) {
  FILETIME fileTime{};
  SystemTimeToFileTime(&time, &fileTime);
  const std::int64_t ticks = (static_cast<std::int64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  return (ticks - kFileTimeOf1970) / 10000000LL;
}

}  // namespace

template <>
SystemFacts& Native<SystemFacts>() {
  static Win32Facts facts;
  return facts;
}

std::string Utf16LeToAnsi(std::string_view bytes) {
  std::vector<wchar_t> wide(bytes.size() / 2);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
  return text;
}

std::string CimDateTime(std::int64_t unixSeconds) {
  const SYSTEMTIME utc = SystemTimeOf(unixSeconds);
  SYSTEMTIME local{};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return std::string();
  const long offsetMinutes = static_cast<long>((SecondsOf(local) - unixSeconds) / 60);
  char text[96];
  std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u.000000%c%03ld", local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond, offsetMinutes < 0 ? '-' : '+',
                offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
  return text;
}

}  // namespace tov32::platform
