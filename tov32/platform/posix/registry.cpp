// POSIX has no registry: every key is missing.
#include "tov32/platform/registry.h"

namespace tov32::platform {
namespace {

class EmptyRegistry final : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string&) override { return nullptr; }
};

}  // namespace

template <>
Registry& Native<Registry>() {
  static EmptyRegistry registry;
  return registry;
}

}  // namespace tov32::platform
