// Win32 files and directory search.
#include "tov32/platform/files.h"

#include <algorithm>

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {
namespace {

// One WriteFile takes a 32-bit count.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

class Win32File final : public WritableFile {
 public:
  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kLargestWrite));
      if (!WriteFile(handle.Get(), bytes.data(), part, &written, nullptr) ||
          written == 0) {
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  bool Close() override { return handle.Reset(); }

  ScopedHandle handle;
};

std::unique_ptr<WritableFile> Open(const std::string& path, DWORD access, DWORD disposition) {
  auto file = std::make_unique<Win32File>();
  *file->handle.Receive() =
      CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!file->handle.Valid()) return nullptr;
  return file;
}

class Win32Files final : public Files {
 public:
  SearchResult Search(const std::string& pattern) override {
    WIN32_FIND_DATAA entry{};
    const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return SearchResult{};
    FindClose(search);
    return SearchResult{true, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
  }

  // A Windows name holds no wildcard, so a search for it is exact.
  SearchResult Entry(const std::string& path) override { return Search(path); }

  bool Delete(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  std::unique_ptr<WritableFile> Create(const std::string& path) override {
    return Open(path, GENERIC_WRITE, CREATE_ALWAYS);
  }

  NewFile CreateNew(const std::string& path) override {
    NewFile created;
    created.file = Open(path, GENERIC_WRITE, CREATE_NEW);
    // A directory of that name refuses the creation with another code.
    created.nameTaken = !created.file && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return created;
  }

  // Positions are 64-bit: a file of 4 GiB or more is added to at its end.
  std::unique_ptr<WritableFile> OpenForAppend(const std::string& path) override {
    std::unique_ptr<WritableFile> file = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    LARGE_INTEGER start{};
    if (file && !SetFilePointerEx(static_cast<Win32File&>(*file).handle.Get(), start, nullptr, FILE_END)) {
      return nullptr;
    }
    return file;
  }
};

}  // namespace

template <>
Files& Native<Files>() {
  static Win32Files files;
  return files;
}

}  // namespace tov32::platform
