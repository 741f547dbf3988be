// errno values as the messages of input/output faults: only the values
// whose meaning is exactly one of the known messages get it; every other
// value is shown as itself, never as the Windows code of the same number.
#include "tov32/platform/errors.h"

#include <cerrno>

namespace tov32::platform {

std::string IoErrorMessage(int code) {
  switch (code) {
    case ENOENT: return "File not found";
    case EMFILE: return "Too many open files";
    case EACCES: return "File access denied";
    case ENOSPC: return "Disk full";
    default: return "I/O error " + std::to_string(code);
  }
}

}  // namespace tov32::platform
