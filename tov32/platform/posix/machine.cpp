// POSIX machine facts: host name, program path, code location, descriptors.
#include "tov32/platform/machine.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
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

CodeLocation LocateCode(const void* code) {
  CodeLocation location;
  Dl_info info{};
  if (dladdr(code, &info) == 0 || info.dli_fbase == nullptr) return location;
  // For the program itself the loader names the file by argv[0], which a
  // link or "exec -a" may have changed: the running file tells the truth.
  char running[4096];
  const char* name = info.dli_fname != nullptr ? info.dli_fname : "";
  if (std::strcmp(name, program_invocation_name) == 0) {
    const ssize_t length = readlink("/proc/self/exe", running, sizeof running - 1);
    if (length > 0) {
      running[length] = '\0';
      name = running;
    }
  }
  const char* slash = std::strrchr(name, '/');
  std::string_view(slash != nullptr ? slash + 1 : name).copy(location.moduleFileName, sizeof location.moduleFileName - 1);
  location.relativeAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code) -
                                                        reinterpret_cast<std::uintptr_t>(info.dli_fbase));
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
