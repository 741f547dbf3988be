// Win32 machine facts: computer name, module path, code location, handles.
#include "tov32/platform/machine.h"

#include <string_view>
#include <vector>

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {

const char* const kPathDelimiters = "\\:";

namespace {

constexpr DWORD kLongestPath = 1 << 17;

class Win32Machine final : public Machine {
 public:
  std::optional<std::string> ComputerName() override {
    char name[254] = {};
    DWORD size = 253;
    if (!GetComputerNameA(name, &size)) return std::nullopt;
    return std::string(name, size);
  }

  // A result that fills the buffer has been cut: the buffer grows until the
  // whole path fits (a long path has up to 32,767 characters, each of up to
  // two bytes in the ANSI code page).
  std::string ModuleFileName() override {
    for (DWORD capacity = MAX_PATH; capacity <= kLongestPath; capacity *= 2) {
      std::vector<char> path(capacity);
      const DWORD length = GetModuleFileNameA(nullptr, path.data(), capacity);
      if (length == 0) return std::string();
      if (length < capacity) return std::string(path.data(), length);
    }
    return std::string();
  }

  void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) override { ::Beep(frequencyHz, durationMs); }
};

}  // namespace

template <>
Machine& Native<Machine>() {
  static Win32Machine machine;
  return machine;
}

CodeLocation LocateCode(const void* code) {
  CodeLocation location;
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(code), &module)) {
    return location;
  }
  char path[4096] = {};
  const DWORD length = GetModuleFileNameA(module, path, sizeof path - 1);
  path[length] = '\0';
  const char* name = path;
  for (const char* byte = path; *byte != '\0'; byte = CharNextA(byte)) {
    if (*byte == '\\' || *byte == '/') name = byte + 1;
  }
  std::string_view(name).copy(location.moduleFileName, sizeof location.moduleFileName - 1);
  location.relativeAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code) -
                                                        reinterpret_cast<std::uintptr_t>(module));
  return location;
}

int OpenHandleCount() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

}  // namespace tov32::platform
