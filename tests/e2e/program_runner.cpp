// Host-side harness of the end-to-end tests (POSIX).
#include "tests/e2e/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace norva_e2e {
namespace {

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string ReadAll(int descriptor) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count > 0) {
      bytes.append(buffer, static_cast<std::size_t>(count));
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      return bytes;
    }
  }
}

// The descriptor that the child gets as standard output; -2 for "closed".
struct OutputSide {
  int childEnd = -2;
  int parentEnd = -1;  // file or terminal master to read from afterwards
  std::string slaveName;
};

constexpr std::int64_t kSlowReaderDelayMs = 300;

// Shrinks the pipe to a page, fills it and makes its write end
// non-blocking (a flag that the program's copy shares); returns how many
// bytes it put in.
std::size_t FillNonBlocking(int readEnd, int writeEnd) {
  fcntl(readEnd, F_SETPIPE_SZ, 4096);
  fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
  const std::string filler(4096, '#');
  std::size_t total = 0;
  for (ssize_t written; (written = write(writeEnd, filler.data(), filler.size())) > 0;) total += static_cast<std::size_t>(written);
  return total;
}

OutputSide PrepareOutput(Output output) {
  OutputSide side;
  switch (output) {
    case Output::kFile: {
      char name[] = "/tmp/norva-e2e-XXXXXX";
      side.childEnd = mkstemp(name);
      unlink(name);
      side.parentEnd = dup(side.childEnd);
      break;
    }
    case Output::kClosed: break;
    case Output::kFullDevice: side.childEnd = open("/dev/full", O_WRONLY); break;
    case Output::kPipeWithoutReader: {
      int ends[2];
      if (pipe(ends) == 0) {
        close(ends[0]);
        side.childEnd = ends[1];
      }
      break;
    }
    case Output::kPipe: {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) == 0) {
        side.parentEnd = ends[0];
        side.childEnd = ends[1];
      }
      break;
    }
    case Output::kTerminal: {
      side.parentEnd = posix_openpt(O_RDWR | O_NOCTTY);
      grantpt(side.parentEnd);
      unlockpt(side.parentEnd);
      side.slaveName = ptsname(side.parentEnd);
      break;
    }
  }
  return side;
}

[[noreturn]] void BecomeChild(const std::vector<std::string>& argv, const RunOptions& options,
                              const OutputSide& side, int errorEnd, int inputEnd) {
  signal(SIGPIPE, SIG_DFL);
  if (options.output == Output::kTerminal) {
    setsid();
    const int slave = open(side.slaveName.c_str(), O_RDWR);
    termios raw{};  // bytes as written: no CR added before LF
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
  } else if (side.childEnd == -2) {
    close(STDOUT_FILENO);
  } else {
    dup2(side.childEnd, STDOUT_FILENO);
  }
  dup2(errorEnd, STDERR_FILENO);
  if (inputEnd >= 0) dup2(inputEnd, STDIN_FILENO);
  if (options.fileSizeLimit > 0) {
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (options.leakedOutputDescriptor > STDERR_FILENO) dup2(STDOUT_FILENO, options.leakedOutputDescriptor);
  for (const std::string& variable : options.environment) putenv(const_cast<char*>(variable.c_str()));
  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// One stream that the harness reads while the program runs.
struct Stream {
  int descriptor = -1;
  std::string* bytes = nullptr;
  std::vector<Chunk>* chunks = nullptr;  // when arrival times are wanted
  std::int64_t* endedAtMs = nullptr;
  bool ended = false;
};

// Reads what arrives on `stream`; marks it ended at its end (EIO for a
// terminal whose last slave is closed).
void ReadSome(Stream& stream, std::int64_t now) {
  char buffer[4096];
  const ssize_t count = read(stream.descriptor, buffer, sizeof buffer);
  if (count < 0 && errno == EINTR) return;
  if (count <= 0) {
    stream.ended = true;
    if (stream.endedAtMs != nullptr) *stream.endedAtMs = now;
    return;
  }
  stream.bytes->append(buffer, static_cast<std::size_t>(count));
  if (stream.chunks != nullptr) stream.chunks->push_back({now, std::string(buffer, static_cast<std::size_t>(count))});
}

// Once the program has exited, a stream that some lingering descendant
// still holds is read this much longer, then left.
constexpr std::int64_t kGraceAfterExitMs = 3000;

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  OutputSide side = PrepareOutput(options.output);
  const std::size_t filler =
      options.outputPipeFullAtStart && options.output == Output::kPipe ? FillNonBlocking(side.parentEnd, side.childEnd) : 0;
  int errorPipe[2];
  // Only what BecomeChild hands over reaches the program.
  if (pipe2(errorPipe, O_CLOEXEC) != 0) return result;
  int inputPipe[2] = {-1, -1};
  if (options.input == Input::kOpenPipe && pipe2(inputPipe, O_CLOEXEC) != 0) return result;
  const std::int64_t start = NowMs();
  const pid_t child = fork();
  if (child == 0) BecomeChild(argv, options, side, errorPipe[1], inputPipe[0]);
  close(errorPipe[1]);
  if (inputPipe[0] >= 0) close(inputPipe[0]);
  if (side.childEnd >= 0) close(side.childEnd);

  std::vector<Stream> streams = {{errorPipe[0], &result.error}};
  if (options.output == Output::kTerminal) streams.push_back({side.parentEnd, &result.output, &result.chunks});
  if (options.output == Output::kPipe) streams.push_back({side.parentEnd, &result.output, nullptr, &result.outputEndedAtMs});
  int status = 0;
  bool reaped = false;
  for (;;) {
    const std::int64_t now = NowMs() - start;
    rusage usage{};
    if (!reaped && wait4(child, &status, WNOHANG, &usage) == child) {
      reaped = true;
      result.exitedAtMs = now;
      result.peakMemoryKb = usage.ru_maxrss;
      if (inputPipe[1] >= 0) close(inputPipe[1]);
      inputPipe[1] = -1;
    }
    const bool allEnded = std::all_of(streams.begin(), streams.end(), [](const Stream& s) { return s.ended; });
    if (reaped && (allEnded || now - result.exitedAtMs > kGraceAfterExitMs)) break;
    if (!reaped && now > options.timeoutMs) kill(child, SIGKILL);  // reaped on a later turn
    std::vector<pollfd> watched;
    for (const Stream& stream : streams) {
      const bool slowReaderWaits = filler > 0 && stream.bytes == &result.output && now < kSlowReaderDelayMs;
      if (!stream.ended && !slowReaderWaits) watched.push_back({stream.descriptor, POLLIN, 0});
    }
    if (poll(watched.data(), watched.size(), 5) <= 0) continue;
    for (Stream& stream : streams) {
      for (const pollfd& entry : watched) {
        if (entry.fd == stream.descriptor && entry.revents != 0) ReadSome(stream, NowMs() - start);
      }
    }
  }
  close(errorPipe[0]);
  if (inputPipe[1] >= 0) close(inputPipe[1]);
  result.output.erase(0, filler);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (options.output == Output::kFile) {
    lseek(side.parentEnd, 0, SEEK_SET);
    result.output = ReadAll(side.parentEnd);
  }
  if (side.parentEnd >= 0) close(side.parentEnd);
  return result;
}

Scratch::Scratch() {
  char name[] = "/tmp/norva-e2e-XXXXXX";
  root_ = mkdtemp(name);
}

Scratch::~Scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file << bytes;
}

std::string HostNodeName() {
  utsname names{};
  uname(&names);
  return names.nodename;
}

std::string KernelRelease() {
  utsname names{};
  uname(&names);
  return names.release;
}

std::string CommandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, count);
    pclose(pipe);
  }
  return output;
}

}  // namespace norva_e2e
