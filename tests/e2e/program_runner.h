// Host-side harness of the end-to-end tests: runs a built program (the
// native one, or the Windows one under Wine) with its standard output on a
// file, closed, on /dev/full, on a pipe with or without reader or on a
// terminal, and its standard input inherited or an open pipe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace norva_e2e {

enum class Output { kFile, kClosed, kFullDevice, kPipeWithoutReader, kTerminal, kPipe };

// kOpenPipe: a pipe that nobody writes to or closes while the program runs,
// as remote-execution tools and CI agents leave it.
enum class Input { kInherited, kOpenPipe };

struct Chunk {
  std::int64_t atMs;  // since the start
  std::string bytes;
};

struct RunResult {
  int exitCode = -1;         // -1: did not exit by itself
  std::string output;        // what reached the file or terminal
  std::string error;         // standard error
  std::vector<Chunk> chunks; // terminal output as it arrived
  std::int64_t exitedAtMs = 0;
  std::int64_t outputEndedAtMs = -1;  // kPipe: when the last writer let go; -1: not by the timeout
  long peakMemoryKb = 0;              // the program's own largest resident size
};

struct RunOptions {
  Output output = Output::kFile;
  Input input = Input::kInherited;
  // Above 2: the output also reaches the program as this descriptor, as a
  // careless caller leaks it into the program it starts.
  int leakedOutputDescriptor = -1;
  // kPipe: a small non-blocking pipe, full when the program starts and
  // read only after a while, as a slow reader leaves it.
  bool outputPipeFullAtStart = false;
  std::uint64_t fileSizeLimit = 0;  // bytes; 0: none
  std::vector<std::string> environment;  // NAME=value entries added
  std::string directory;                 // working directory; empty: unchanged
  int timeoutMs = 120000;
};

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options);

// A scratch folder of its own, removed with its content afterwards.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return root_ / name; }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// Small facts of the host for comparison.
std::string HostNodeName();
std::string KernelRelease();
std::string CommandOutput(const std::string& command);

}  // namespace norva_e2e
