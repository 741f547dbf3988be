// The system facts and standard streams that the wmic stand-in needs,
// without the C++ runtime: no exceptions, iostreams or C++ allocation.
// The stand-in is started four times per audit, and so its start costs
// what a small C program's start costs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tov32::platform::bare {

// Each writes a text of at most `size` - 1 bytes and a terminating zero
// into `text` and returns the text's length: 0 when the fact is unknown.
// The kernel release (major.minor.build on Windows).
std::size_t OsVersion(char* text, std::size_t size);
// The install time as yyyymmddHHMMSS.000000+ZZZ, local time.
std::size_t InstallDate(char* text, std::size_t size);
// A moment (seconds since 1970, UTC) as such a CIM date-time.
std::size_t CimDateTime(std::int64_t unixSeconds, char* text, std::size_t size);

// Kilobytes of physical memory visible to the system; 0 if unknown.
std::uint64_t TotalVisibleMemoryKb();

// The physical cores of each processor package, in the order of the
// packages' ids, into at most `capacity` counts; returns how many packages
// there are (0 if unknown).
std::size_t CoresPerPackage(int* counts, std::size_t capacity);

// Reads standard input to its end, unless it is a console.
void DrainStandardInput();

// Writes every byte to standard output, without line-end conversion.
bool WriteStandardOutput(const char* bytes, std::size_t count);

}  // namespace tov32::platform::bare
