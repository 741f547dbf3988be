// Win32 standard handles.
#include "tov32/platform/console.h"

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {
namespace {

int WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      return static_cast<int>(GetLastError());
    }
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes.remove_prefix(written);
  }
  return 0;
}

bool Usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

class Win32Console final : public Console {
 public:
  StreamKind StandardOutputKind() override {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!Usable(output)) return StreamKind::kNone;
    switch (GetFileType(output)) {
      case FILE_TYPE_CHAR: return StreamKind::kCharacter;
      case FILE_TYPE_DISK: return StreamKind::kDisk;
      case FILE_TYPE_PIPE: return StreamKind::kPipe;
      default: return StreamKind::kUnknown;
    }
  }

  int WriteStandardOutput(std::string_view bytes) override {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    return Usable(output) ? WriteAll(output, bytes) : kStreamNotOpen;
  }

  void WriteStandardError(std::string_view bytes) override {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (Usable(error)) WriteAll(error, bytes);
  }

  std::string ToOemCodePage(const std::string& text) override {
    std::string oem(text.size(), '\0');
    if (!text.empty()) CharToOemBuffA(text.data(), oem.data(), static_cast<DWORD>(text.size()));
    return oem;
  }
};

}  // namespace

template <>
Console& Native<Console>() {
  static Win32Console console;
  return console;
}

bool StandardInputIsConsole() { return GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR; }

// Windows has no broken-pipe signal: such a write fails with an error code.
void IgnoreWriteFaultSignals() {}

}  // namespace tov32::platform
