// Facts about the running machine and program, and its speaker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tov32/platform/seam.h"

namespace tov32::platform {

// Where the platform's paths put their separators: the last of these bytes
// ends the directory part of a path.
extern const char* const kPathDelimiters;

// Held without the heap, so that it can be had when memory is gone.
struct CodeLocation {
  char moduleFileName[256] = {};  // the module's file name, without directory, cut to fit
  std::uint32_t relativeAddress = 0;
};

class Machine {
 public:
  virtual ~Machine() = default;
  // The computer's name, or nullopt when the system call fails.
  virtual std::optional<std::string> ComputerName() = 0;
  // The running program's whole path (the file itself, not a link to it);
  // empty when no whole path can be had.
  virtual std::string ModuleFileName() = 0;
  // Sounds one tone and returns when it has ended.
  virtual void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) = 0;
};

template <>
Machine& Native<Machine>();

// The module that holds `code` (for the program itself, its running file,
// whatever name it was started by), and the code's offset from its load
// base. Allocates nothing.
CodeLocation LocateCode(const void* code);

// Number of handles (Windows) or file descriptors (POSIX) the process holds.
int OpenHandleCount();

}  // namespace tov32::platform
