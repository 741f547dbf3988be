// Which commands /bin/sh would run as one program with plain arguments, so
// that they can be started without the shell. The rule is conservative:
// anything the shell could treat specially goes to the shell.
#pragma once

#include <string>
#include <vector>

namespace tov32::platform {

// The words of `command`, split at blanks and tabs, when every byte of it
// is an ASCII letter, a digit, one of -_./,:+@ or such a separator, and
// its first word is no reserved word or built-in of a shell; otherwise
// nothing (the command needs the shell).
std::vector<std::string> PlainCommandWords(const std::string& command);

}  // namespace tov32::platform
