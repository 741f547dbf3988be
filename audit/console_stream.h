// The audit's standard output: an 8-bit byte stream with a 128-byte buffer,
// opened at its first write. On a console every statement is handed to the
// system at once; on a file or pipe bytes leave when the buffer is full and
// at the end.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "tov32/platform/console.h"

namespace norva {

class ConsoleStream {
 public:
  static constexpr std::size_t kBufferSize = 128;

  // One write statement: the bytes, then the flush and the I/O check, which
  // throws tov32::EInOutError with the system's code if anything failed.
  void WriteStatement(std::string_view text);
  // A line: the text and CR LF as one statement.
  void WriteLine(std::string_view text);
  // A labelled line: the label, the value and CR LF as one statement; the
  // value, which may be large, is not copied.
  void WriteLine(std::string_view label, std::string_view value);
  // Hands over what is still buffered; throws EInOutError if that fails.
  void Close();
  // Hands over what is still buffered and ignores any failure.
  void CloseQuietly() noexcept;

 private:
  void Statement(std::string_view first, std::string_view second, std::string_view ending);
  void Append(std::string_view bytes);
  void HandOver();
  bool Open();
  void CheckIo();

  bool opened_ = false;
  tov32::platform::StreamKind kind_ = tov32::platform::StreamKind::kNone;
  int error_ = 0;
  std::array<char, kBufferSize> buffer_{};
  std::size_t used_ = 0;
};

}  // namespace norva
