// Single values from the management command-line tool.
#pragma once

#include <string>

namespace tov32 {

// The operating system's `Property` ("version", "installdate",
// "totalvisiblememorysize", ...) as "wmic os get <Property>" reports it: the
// tool's output after its header line, trimmed of bytes 0 to 32. Where the
// tool cannot be found, the value comes from the system directly in the same
// form. Empty when no value could be had. Not guarded: an out-of-memory
// fault in its own steps reaches the caller.
std::string GetWmicOSValue(const std::string& Property);

// The processor's `Property` ("numberofcores", ...) as "wmic cpu get
// <Property>" reports it; empty when the output holds "ERROR". One line per
// processor package. Otherwise as GetWmicOSValue.
std::string GetWmicCPUValue(const std::string& Property);

}  // namespace tov32
