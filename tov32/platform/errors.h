// What the system's error codes mean to a reader of a fault message.
#pragma once

#include <string>

namespace tov32::platform {

// The message of an input/output fault with the system's error code `code`
// (a Windows error code, or an errno value on POSIX): a short text where
// its meaning is one of the known ones, else "I/O error <code>".
std::string IoErrorMessage(int code);

}  // namespace tov32::platform
