// POSIX children: /bin/sh -c runs the command, or the command's program is
// started directly when the command needs no shell; the read end is
// non-blocking so that poll() can bound a read by the deadline.
#include "tov32/platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "tov32/platform/clock.h"
#include "tov32/platform/posix/plain_command.h"

extern char** environ;

namespace tov32::platform {

const char* const kShellPrefix = "";

namespace {

void CloseDescriptor(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";

std::string InheritedSearchPath() {
  const char* path = getenv("PATH");
  return path != nullptr ? path : kDefaultSearchPath;
}

// An environment block for posix_spawn, whose entries it owns.
class Environment {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  const std::vector<std::string>& Entries() const { return entries_; }
  char** Block() {
    pointers_.clear();
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
    return pointers_.data();
  }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

// The program's environment with "." in front of PATH: the child runs in
// its directory and finds a program there first, as the Windows interpreter
// does, and no byte of the directory's name reaches PATH.
Environment ShellEnvironment() {
  Environment environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "PATH=", 5) != 0) environment.Add(*entry);
  }
  environment.Add("PATH=.:" + InheritedSearchPath());
  return environment;
}

bool IsShellName(const std::string& entry, std::size_t length) {
  if (length == 0 || std::isdigit(static_cast<unsigned char>(entry[0])) != 0) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(entry[i]);
    if (byte >= 0x80 || (std::isalnum(byte) == 0 && byte != '_')) return false;
  }
  return true;
}

// What a POSIX shell started with `shell` hands on to a program it runs
// from a folder whose PWD is `workingDirectory`: only the variables whose
// names it can hold, IFS, OPTIND and PPID as it sets them when it starts,
// and PWD naming its working folder.
Environment AsTheShellHandsItOn(const Environment& shell, const std::string& workingDirectory) {
  Environment handedOn;
  for (const std::string& entry : shell.Entries()) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || !IsShellName(entry, equals)) continue;
    const std::string name = entry.substr(0, equals);
    if (name == "PWD") continue;
    if (name == "IFS") {
      handedOn.Add("IFS= \t\n");
    } else if (name == "OPTIND") {
      handedOn.Add("OPTIND=1");
    } else if (name == "PPID") {
      handedOn.Add("PPID=" + std::to_string(getpid()));
    } else {
      handedOn.Add(entry);
    }
  }
  handedOn.Add("PWD=" + workingDirectory);
  return handedOn;
}

// The shell's PWD in `directory`: the inherited one when it is absolute
// and names that very folder, else the folder's physical path.
std::optional<std::string> ShellWorkingDirectory(const std::string& directory) {
  struct stat here {};
  if (stat(directory.c_str(), &here) != 0) return std::nullopt;
  const char* inherited = getenv("PWD");
  struct stat named {};
  if (inherited != nullptr && inherited[0] == '/' && stat(inherited, &named) == 0 && named.st_dev == here.st_dev &&
      named.st_ino == here.st_ino) {
    return std::string(inherited);
  }
  std::unique_ptr<char, void (*)(void*)> physical(realpath(directory.c_str(), nullptr), std::free);
  if (!physical) return std::nullopt;
  return std::string(physical.get());
}

bool IsExecutableFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Where the child, which runs in `directory`, finds `path`: a relative path
// (an empty or "." entry of PATH included) is taken from `directory`.
std::string InDirectory(const std::string& directory, const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return directory + (directory.empty() || directory.back() == '/' ? "" : "/") + path;
}

// The program that the child's shell, running in `directory` with "." in
// front of PATH, runs for the command word `program`, as the shell writes
// its path: a word with a "/" is that path, any other the first PATH entry
// that holds it, joined with a "/" ("./wmic", "/usr/bin/cat"; an empty
// entry, the word alone). Relative paths are taken from `directory`.
std::optional<std::string> FindProgram(const std::string& program, const std::string& directory) {
  if (program.find('/') != std::string::npos) {
    if (IsExecutableFile(InDirectory(directory, program))) return program;
    return std::nullopt;
  }
  const std::string path = ".:" + InheritedSearchPath();
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = end > start ? path.substr(start, end - start) + "/" + program : program;
    if (IsExecutableFile(InDirectory(directory, candidate))) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// Children that a capture let go while they still ran. They are reaped,
// without waiting, when the next capture starts and when the program ends,
// so that none stays a zombie. A fixed table: letting go allocates nothing.
class LetGoChildren {
 public:
  ~LetGoChildren() { ReapEnded(); }

  void Add(pid_t child) noexcept {
    if (waitpid(child, nullptr, WNOHANG) != 0) return;  // ended and reaped now
    for (pid_t& slot : children_) {
      if (slot == 0) {
        slot = child;
        return;
      }
    }
  }

  void ReapEnded() noexcept {
    for (pid_t& slot : children_) {
      if (slot != 0 && waitpid(slot, nullptr, WNOHANG) != 0) slot = 0;
    }
  }

 private:
  std::array<pid_t, 64> children_{};
};

LetGoChildren& LetGo() {
  static LetGoChildren children;
  return children;
}

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

class SpawnAttributes {
 public:
  // The child starts with the default SIGPIPE and SIGXFSZ actions even
  // though the program ignores them.
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
};

class PosixCapturePipe final : public CapturePipe {
 public:
  PosixCapturePipe(int readEnd, int writeEnd) : readEnd_(readEnd), writeEnd_(writeEnd) {}
  ~PosixCapturePipe() override {
    ReleaseChild();
    CloseDescriptor(readEnd_);
    CloseDescriptor(writeEnd_);
  }

  bool StartChild(const std::string& commandLine, const std::string& directory) override {
    if (directory.empty() || writeEnd_ < 0) return false;
    Environment environment = ShellEnvironment();
    if (StartDirectly(commandLine, directory, environment)) return true;
    char shell[] = "/bin/sh";
    char option[] = "-c";
    std::string command = commandLine;
    char* argv[] = {shell, option, command.data(), nullptr};
    return Spawn(shell, argv, environment.Block(), directory);
  }

  void CloseWriteEnd() override { CloseDescriptor(writeEnd_); }

  ReadResult Read(char* buffer, std::size_t capacity, std::int64_t deadlineMs) override {
    for (;;) {
      ssize_t count = ::read(readEnd_, buffer, capacity);
      if (count > 0) return {ReadStatus::kData, static_cast<std::size_t>(count)};
      if (count == 0) return {ReadStatus::kEnded, 0};
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return {ReadStatus::kEnded, 0};
      if (!WaitReadable(deadlineMs)) return {ReadStatus::kTimedOut, 0};
    }
  }

  // A child that has ended is reaped now; one still running is left alone
  // and reaped later.
  void ReleaseChild() override {
    if (child_ > 0) LetGo().Add(child_);
    child_ = -1;
  }

 private:
  bool WaitReadable(std::int64_t deadlineMs) {
    for (;;) {
      std::int64_t left = deadlineMs - Use<Clock>().SteadyMilliseconds();
      if (left <= 0) return false;
      pollfd watched{readEnd_, POLLIN, 0};
      int ready = poll(&watched, 1, static_cast<int>(left > 60000 ? 60000 : left));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return true;  // let the read report it
    }
  }

  // A command that needs no shell starts its program by the path that the
  // shell would find and use, with the arguments and environment that the
  // shell would give it: one process instead of two. A program that cannot be
  // found or started so is left to the shell, whose message then is the
  // output, as it always was.
  bool StartDirectly(const std::string& commandLine, const std::string& directory, const Environment& shell) {
    std::vector<std::string> words = PlainCommandWords(commandLine);
    if (words.empty()) return false;
    const std::optional<std::string> program = FindProgram(words.front(), directory);
    if (!program) return false;
    const std::optional<std::string> workingDirectory = ShellWorkingDirectory(directory);
    if (!workingDirectory) return false;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Environment environment = AsTheShellHandsItOn(shell, *workingDirectory);
    return Spawn(program->c_str(), argv.data(), environment.Block(), directory);
  }

  bool Spawn(const char* program, char* const argv[], char* const envp[], const std::string& directory) {
    SpawnActions actions;
    SpawnAttributes attributes;
    posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str());
    // Nobody will write to the child: a tool that reads its input to the end
    // sees that end at once.
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd_, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd_, STDERR_FILENO);
    // Nothing else of the program's reaches the child, so a child that
    // lingers holds none of the caller's pipes open.
    posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
    pid_t child = -1;
    if (posix_spawn(&child, program, actions.get(), attributes.get(), argv, envp) != 0) return false;
    child_ = child;
    return true;
  }

  int readEnd_;
  int writeEnd_;
  pid_t child_ = -1;
};

class PosixProcesses final : public Processes {
 public:
  std::unique_ptr<CapturePipe> CreatePipe() override {
    LetGo().ReapEnded();
    auto pipe = std::unique_ptr<PosixCapturePipe>();
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
    try {
      pipe = std::make_unique<PosixCapturePipe>(ends[0], ends[1]);
    } catch (...) {
      ::close(ends[0]);
      ::close(ends[1]);
      throw;
    }
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    return pipe;
  }

  void YieldTimeSlice() override { sched_yield(); }

  std::int64_t CaptureDeadlineMs() override { return kCaptureDeadlineMs; }
  std::size_t CaptureLimitBytes() override { return kCaptureLimitBytes; }

  bool CanFindProgram(const std::string& program, const std::string& directory) override {
    return FindProgram(program, directory).has_value();
  }
};

}  // namespace

template <>
Processes& Native<Processes>() {
  static PosixProcesses processes;
  return processes;
}

}  // namespace tov32::platform
