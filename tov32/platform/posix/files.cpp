// POSIX files: glob() gives the directory search its wildcard meaning.
#include "tov32/platform/files.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tov32::platform {
namespace {

class PosixFile final : public WritableFile {
 public:
  explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixFile() override { Close(); }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  bool Close() override {
    if (descriptor_ < 0) return true;
    int descriptor = descriptor_;
    descriptor_ = -1;
    return ::close(descriptor) == 0;
  }

 private:
  int descriptor_;
};

std::unique_ptr<WritableFile> Open(const std::string& path, int flags) {
  int descriptor = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0666);
  if (descriptor < 0) return nullptr;
  try {
    return std::make_unique<PosixFile>(descriptor);
  } catch (...) {
    ::close(descriptor);
    throw;
  }
}

class PosixFiles final : public Files {
 public:
  SearchResult Search(const std::string& pattern) override {
    SearchResult result;
    if (pattern.empty()) return result;
    glob_t matches{};
    if (glob(pattern.c_str(), GLOB_NOSORT, nullptr, &matches) == 0 && matches.gl_pathc > 0) {
      struct stat status {};
      result.found = true;
      result.isDirectory = stat(matches.gl_pathv[0], &status) == 0 && S_ISDIR(status.st_mode);
    }
    globfree(&matches);
    return result;
  }

  bool Delete(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  std::unique_ptr<WritableFile> Create(const std::string& path) override {
    return Open(path, O_CREAT | O_TRUNC);
  }

  std::unique_ptr<WritableFile> OpenForAppend(const std::string& path) override {
    return Open(path, O_APPEND);
  }
};

}  // namespace

template <>
Files& Native<Files>() {
  static PosixFiles files;
  return files;
}

}  // namespace tov32::platform
