// The process's standard output and standard error.
#pragma once

#include <string>
#include <string_view>

#include "tov32/platform/seam.h"

namespace tov32::platform {

enum class StreamKind { kNone, kUnknown, kCharacter, kDisk, kPipe };

// The system's error code for a stream that cannot be opened for writing.
inline constexpr int kStreamNotOpen = 105;

class Console {
 public:
  virtual ~Console() = default;
  // What standard output is: missing, of a kind the system cannot tell, a
  // character device (console), a disk file or a pipe.
  virtual StreamKind StandardOutputKind() = 0;
  // Hands bytes to standard output; 0, or the system's error code.
  virtual int WriteStandardOutput(std::string_view bytes) = 0;
  // Writes bytes straight to standard error; failures are ignored.
  virtual void WriteStandardError(std::string_view bytes) = 0;
  // The text converted from the ANSI to the OEM code page (unchanged where
  // the platform has no such distinction).
  virtual std::string ToOemCodePage(const std::string& text) = 0;
};

template <>
Console& Native<Console>();

// Whether standard input is a console (a terminal on POSIX).
bool StandardInputIsConsole();

// Makes a write to a pipe whose reader has gone, or past a file-size limit,
// an error code instead of a silent end of the process.
void IgnoreWriteFaultSignals();

}  // namespace tov32::platform
