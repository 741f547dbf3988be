// Runs a command line through the command interpreter and captures its output.
#pragma once

#include <string>

namespace tov32 {

// Runs `Command` through the command interpreter ("cmd.exe /C " on Windows,
// "/bin/sh -c" elsewhere) as a hidden child in `Directory`, with the
// program's standard input, and returns every byte that the child writes to
// standard output and standard error, unchanged and in order (0 bytes
// included). The capture ends when the output ends or, at the latest, 40
// seconds after the child started; a child still running then is left to
// itself. Empty when the child cannot be started (an empty or missing
// `Directory` included). Guarded: never throws; after a fault the bytes
// captured until then.
std::string GetDosOutput(const std::string& Command, const std::string& Directory);

}  // namespace tov32
