// Read access to the registry's HKEY_LOCAL_MACHINE hive. Outside Windows
// the registry is empty unless a test puts one in place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tov32/platform/seam.h"

namespace tov32::platform {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

struct RegistryValue {
  std::uint32_t type = 0;
  std::string data;         // the raw bytes of the value
  bool dataRead = true;     // false when the size was learned but the read failed
};

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;  // closes the key
  // The named value (empty name: the default value); nullopt when there is
  // none or its size is 0.
  virtual std::optional<RegistryValue> QueryValue(const std::string& name) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens an existing key under HKEY_LOCAL_MACHINE for reading; nullptr when
  // it does not exist or cannot be opened. Never creates a key.
  virtual std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& subKey) = 0;
};

template <>
Registry& Native<Registry>();

}  // namespace tov32::platform
