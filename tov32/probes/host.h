// The computer's name and the program's location.
#pragma once

#include <string>

namespace tov32 {

// The computer's name as the system reports it; empty when it cannot be
// read. Guarded: never throws.
std::string GetHostName();

// For an empty `ExeName`, the running program's directory with its closing
// delimiter ("\\?\" dropped); for "zarn.exe" (any case) the sibling tool's
// fixed path when it exists; otherwise the program's path from its App Paths
// registry entry ("Path" value plus the name, or the default value), or the
// empty text. Guarded: never throws; empty after a fault.
std::string GetEXEPath(const std::string& ExeName);

// Whether a directory search for GlobalSettings.PathPrefix + `FilePath`
// (wildcards allowed, directories count) finds any entry. Guarded: never
// throws; false after a fault.
bool FileExists(const std::string& FilePath);

}  // namespace tov32
