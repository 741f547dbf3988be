// Win32 registry, read access under HKEY_LOCAL_MACHINE.
#include "tov32/platform/registry.h"

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {
namespace {

class Win32RegistryKey final : public RegistryKey {
 public:
  ~Win32RegistryKey() override {
    if (key != nullptr) RegCloseKey(key);
  }

  std::optional<RegistryValue> QueryValue(const std::string& name) override {
    const char* valueName = name.empty() ? nullptr : name.c_str();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    RegistryValue value;
    value.type = type;
    value.data.resize(size);
    if (size > 0) {
      value.dataRead = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value.data.data()),
                                        &size) == ERROR_SUCCESS;
      value.data.resize(size);
    }
    return value;
  }

  HKEY key = nullptr;
};

class Win32Registry final : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& subKey) override {
    auto opened = std::make_unique<Win32RegistryKey>();
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &opened->key) != ERROR_SUCCESS) {
      opened->key = nullptr;
      return nullptr;
    }
    return opened;
  }
};

}  // namespace

template <>
Registry& Native<Registry>() {
  static Win32Registry registry;
  return registry;
}

}  // namespace tov32::platform
