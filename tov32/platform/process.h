// Child processes whose standard output and standard error go into one pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tov32/platform/seam.h"

namespace tov32::platform {

// Put in front of a command to have the command interpreter run it.
extern const char* const kShellPrefix;

// What the native backends use: a capture ends 40 s after the child's start
// or once it keeps 64 MiB, whichever comes first.
inline constexpr std::int64_t kCaptureDeadlineMs = 40000;
inline constexpr std::size_t kCaptureLimitBytes = std::size_t{64} << 20;

enum class ReadStatus { kData, kEnded, kTimedOut };

struct ReadResult {
  ReadStatus status = ReadStatus::kEnded;
  std::size_t count = 0;
};

class CapturePipe {
 public:
  virtual ~CapturePipe() = default;  // closes every handle still open
  // Starts `commandLine` in `directory` with the null device as standard
  // input and the pipe's write end as standard output and standard error;
  // the child inherits no other handle of the program. False when the child
  // cannot be started.
  virtual bool StartChild(const std::string& commandLine, const std::string& directory) = 0;
  virtual void CloseWriteEnd() = 0;
  // Waits for output until `deadlineMs` on the steady clock; a read still
  // waiting then ends with kTimedOut.
  virtual ReadResult Read(char* buffer, std::size_t capacity, std::int64_t deadlineMs) = 0;
  // Lets go of the child's handles; the child itself goes on.
  virtual void ReleaseChild() = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // A new pipe with both ends open; nullptr when it cannot be created.
  virtual std::unique_ptr<CapturePipe> CreatePipe() = 0;
  // Gives up the rest of the time slice.
  virtual void YieldTimeSlice() = 0;
  // How long a capture may take, in milliseconds.
  virtual std::int64_t CaptureDeadlineMs() = 0;
  // How many bytes a capture keeps at most; reaching it ends the capture
  // as the deadline does.
  virtual std::size_t CaptureLimitBytes() = 0;
  // Whether `program` can be run as a command in `directory` by a child
  // that runs there: looked for in `directory` first, then along PATH (with
  // PATHEXT's extensions on Windows), relative entries taken from
  // `directory` as the child takes them.
  virtual bool CanFindProgram(const std::string& program, const std::string& directory) = 0;
};

template <>
Processes& Native<Processes>();

}  // namespace tov32::platform
