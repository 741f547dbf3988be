// The capture's counterpart in the benchmarks: a bare read loop on the same
// kind of pipe, with nothing kept but the count.
#pragma once

#include <cstddef>
#include <string>

namespace norva_bench {

// The command that writes `mebibytes` MiB, and the folder it runs in.
std::string WriterCommand(long mebibytes);
std::string WriterDirectory();

// Runs `command` as the capture does and reads its output `readSize` bytes
// at a time, yielding after each read when `yield` is set; returns the
// number of bytes read.
std::size_t BareLoop(const std::string& command, const std::string& directory, std::size_t readSize, bool yield);

}  // namespace norva_bench
