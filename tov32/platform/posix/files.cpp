// POSIX files. The directory search means what it means on Windows: * and
// ? in the last part of the name are wildcards that match dot-files too;
// every other byte ([, ], \ among them) is an ordinary file-name byte.
#include "tov32/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tov32::platform {
namespace {

class PosixFile final : public WritableFile {
 public:
  explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
  void Adopt(int descriptor) { descriptor_ = descriptor; }
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

// The holder is made first: when memory runs out, no file has been created
// or truncated yet.
std::unique_ptr<WritableFile> Open(const std::string& path, int flags, int* error = nullptr) {
  auto file = std::make_unique<PosixFile>(-1);
  const int descriptor = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0666);
  if (error != nullptr) *error = descriptor < 0 ? errno : 0;
  if (descriptor < 0) return nullptr;
  file->Adopt(descriptor);
  return file;
}

// As rm treats it: no write bit for anyone means the file is protected,
// also from root, who could otherwise unlink it.
bool IsWriteProtected(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && !S_ISLNK(status.st_mode) &&
         (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool Matches(const char* pattern, const char* name) {
  for (; *pattern != '\0'; ++pattern, ++name) {
    if (*pattern == '*') {
      for (const char* rest = name;; ++rest) {
        if (Matches(pattern + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*name == '\0' || (*pattern != '?' && *pattern != *name)) return false;
  }
  return *name == '\0';
}

// A name that ends in a separator names no entry, as on Windows.
SearchResult EntryOf(const std::string& path) {
  if (path.empty() || path.back() == '/') return SearchResult{};
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return SearchResult{};
  struct stat target {};
  const bool directory = S_ISDIR(status.st_mode) || (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode));
  return SearchResult{true, directory};
}

class PosixFiles final : public Files {
 public:
  SearchResult Search(const std::string& pattern) override {
    const std::size_t slash = pattern.rfind('/');
    const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (name.find_first_of("*?") == std::string::npos) return EntryOf(pattern);
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) return SearchResult{};
    SearchResult result;
    while (const dirent* entry = readdir(directory)) {
      if (Matches(name.c_str(), entry->d_name)) {
        result = EntryOf((slash == std::string::npos ? "" : folder) + entry->d_name);
        if (result.found) break;
      }
    }
    closedir(directory);
    return result;
  }

  SearchResult Entry(const std::string& path) override { return EntryOf(path); }

  bool Delete(const std::string& path) override {
    if (IsWriteProtected(path)) return false;
    return ::unlink(path.c_str()) == 0;
  }

  std::unique_ptr<WritableFile> Create(const std::string& path) override {
    return Open(path, O_CREAT | O_TRUNC);
  }

  NewFile CreateNew(const std::string& path) override {
    NewFile created;
    int error = 0;
    created.file = Open(path, O_CREAT | O_EXCL, &error);
    created.nameTaken = error == EEXIST;
    return created;
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
