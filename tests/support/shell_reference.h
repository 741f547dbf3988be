// POSIX: what /bin/sh -c makes of a command, as the capture's child would
// run it before any command was started directly: in `directory`, with
// the null device as input, "." in front of PATH, and standard output and
// standard error on one pipe.
#pragma once

#include <string>

namespace norva_test {

std::string ShellOutput(const std::string& command, const std::string& directory);

}  // namespace norva_test
