// POSIX machine facts: host name, program path, code location, descriptors.
#include "tov32/platform/machine.h"

#include <dirent.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tov32::platform {

const char* const kPathDelimiters = "/";

namespace {

constexpr std::size_t kLongestPath = std::size_t{1} << 20;

class PosixMachine final : public Machine {
 public:
  std::optional<std::string> ComputerName() override {
    char name[254] = {};
    if (gethostname(name, 253) != 0) return std::nullopt;
    return std::string(name, strnlen(name, 253));
  }

  // readlink cuts silently: a result that fills the buffer may have been
  // cut, so the buffer grows until the whole path fits.
  std::string ModuleFileName() override {
    for (std::size_t capacity = 256; capacity <= kLongestPath; capacity *= 2) {
      std::vector<char> path(capacity);
      const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
      if (length <= 0) return std::string();
      if (static_cast<std::size_t>(length) < capacity) return std::string(path.data(), static_cast<std::size_t>(length));
    }
    return std::string();
  }

  // A console tool on POSIX has no speaker of its own to drive.
  void Beep(std::uint32_t, std::uint32_t) override {}
};

}  // namespace

template <>
Machine& Native<Machine>() {
  static PosixMachine machine;
  return machine;
}

namespace {

struct LoadedObject {
  std::uintptr_t address = 0;
  std::uintptr_t base = 0;  // where its first segment is mapped
  const char* name = nullptr;
};

// The loaded object whose segments hold the address. Unlike dladdr this
// also works in a static program, which has no loader to ask.
int FindObjectHolding(dl_phdr_info* info, std::size_t, void* data) {
  auto* wanted = static_cast<LoadedObject*>(data);
  bool holds = false;
  std::uintptr_t first = UINTPTR_MAX;
  for (int index = 0; index < info->dlpi_phnum; ++index) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[index];
    if (segment.p_type != PT_LOAD) continue;
    const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    // An alignment of 0 or 1 means none.
    const std::uintptr_t alignment = segment.p_align > 1 ? segment.p_align : 1;
    first = std::min(first, start - segment.p_vaddr % alignment);
    holds = holds || (wanted->address >= start && wanted->address - start < segment.p_memsz);
  }
  if (!holds) return 0;
  wanted->base = first;
  wanted->name = info->dlpi_name;
  return 1;
}

}  // namespace

CodeLocation LocateCode(const void* code) {
  CodeLocation location;
  LoadedObject object;
  object.address = reinterpret_cast<std::uintptr_t>(code);
  if (dl_iterate_phdr(FindObjectHolding, &object) == 0) return location;
  // The program itself comes without a name: the running file tells it,
  // whatever argv[0], a link or "exec -a" may say.
  char running[4096];
  const char* name = object.name != nullptr ? object.name : "";
  if (*name == '\0') {
    const ssize_t length = readlink("/proc/self/exe", running, sizeof running - 1);
    running[length > 0 ? length : 0] = '\0';
    name = running;
  }
  const char* slash = std::strrchr(name, '/');
  std::string_view(slash != nullptr ? slash + 1 : name).copy(location.moduleFileName, sizeof location.moduleFileName - 1);
  location.relativeAddress = static_cast<std::uint32_t>(object.address - object.base);
  return location;
}

int OpenHandleCount() {
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(directory);
  return count - 1;  // the directory stream's own descriptor
}

}  // namespace tov32::platform
