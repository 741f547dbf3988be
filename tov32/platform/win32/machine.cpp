// Win32 machine facts: computer name, module path, code location, handles.
#include "tov32/platform/machine.h"

#include <vector>

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {

const char* const kPathDelimiters = "\\:";

namespace {

class Win32Machine final : public Machine {
 public:
  std::optional<std::string> ComputerName() override {
    char name[254] = {};
    DWORD size = 253;
    if (!GetComputerNameA(name, &size)) return std::nullopt;
    return std::string(name, size);
  }

  std::string ModuleFileName(std::size_t capacity) override {
    std::vector<char> path(capacity);
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::string(path.data(), length);
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
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  const std::string full(path, length);
  const std::size_t slash = full.find_last_of("\\/");
  location.moduleFileName = slash == std::string::npos ? full : full.substr(slash + 1);
  location.relativeAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code) -
                                                        reinterpret_cast<std::uintptr_t>(module));
  return location;
}

int OpenHandleCount() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

}  // namespace tov32::platform
