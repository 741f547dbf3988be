// POSIX standard streams: descriptors 1 and 2.
#include "tov32/platform/console.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tov32::platform {
namespace {

// An output that its owner made non-blocking may be full for a moment: then
// the write waits until it can take bytes, and nothing is lost.
int WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd writable{descriptor, POLLOUT, 0};
      if (poll(&writable, 1, -1) >= 0 || errno == EINTR) continue;
    }
    if (written < 0) return errno;
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

class PosixConsole final : public Console {
 public:
  StreamKind StandardOutputKind() override {
    struct stat status {};
    if (fstat(STDOUT_FILENO, &status) != 0) return StreamKind::kNone;
    if (S_ISCHR(status.st_mode)) return StreamKind::kCharacter;
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return StreamKind::kPipe;
    return StreamKind::kDisk;
  }

  int WriteStandardOutput(std::string_view bytes) override { return WriteAll(STDOUT_FILENO, bytes); }

  void WriteStandardError(std::string_view bytes) override { WriteAll(STDERR_FILENO, bytes); }

  std::string ToOemCodePage(const std::string& text) override { return text; }
};

}  // namespace

template <>
Console& Native<Console>() {
  static PosixConsole console;
  return console;
}

bool StandardInputIsConsole() { return isatty(STDIN_FILENO) != 0; }

// A write past a file-size limit fails with EFBIG instead of ending the
// program without a word.
void IgnoreWriteFaultSignals() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace tov32::platform
