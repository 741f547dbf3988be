// The one way into <windows.h> for the Win32 backend: lean, without the
// min/max macros, and for Windows 7 or later (MinGW-w64 may default lower).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0601
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>

namespace tov32::platform {

// Owns a kernel handle and closes it on every way out.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  HANDLE* Receive() {
    Reset();
    return &handle_;
  }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Closes the handle; false when closing failed.
  bool Reset() {
    const bool closed = !Valid() || CloseHandle(handle_) != 0;
    handle_ = nullptr;
    return closed;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace tov32::platform
