// Command output capture.
#include "tov32/probes/dos_output.h"

#include <algorithm>
#include <memory>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/clock.h"
#include "tov32/platform/process.h"

namespace tov32 {
namespace {

constexpr std::size_t kReadSize = 255;

// A large capture is bound by the first touch of its memory, so the output
// grows four-fold: every byte is copied a third of a time on average
// instead of once, and few pages are touched twice. It never grows past
// `limit`, so a growth step holds at most twice the limit. Returns whether
// the limit has been reached; the bytes past it are dropped.
bool Keep(std::string& output, const char* bytes, std::size_t count, std::size_t limit) {
  count = std::min(count, limit - output.size());
  if (output.size() + count > output.capacity()) output.reserve(std::min(output.capacity() * 4, limit));
  output.append(bytes, count);
  return output.size() == limit;
}

// Lets go of a started child on every way out of the reading, before a
// fault is handled, with the checkpoints that a fault report then shows.
class ChildRelease {
 public:
  ChildRelease(platform::CapturePipe& pipe, tLogRec& log) : pipe_(pipe), log_(log) {}
  ~ChildRelease() {
    log_.Trace = 1100;
    pipe_.ReleaseChild();
    log_.Trace = 1110;
  }
  ChildRelease(const ChildRelease&) = delete;
  ChildRelease& operator=(const ChildRelease&) = delete;

 private:
  platform::CapturePipe& pipe_;
  tLogRec& log_;
};

void ReadUntilEndOrDeadline(platform::CapturePipe& pipe, std::string& output, tLogRec& log) {
  platform::Processes& processes = platform::Use<platform::Processes>();
  platform::Clock& clock = platform::Use<platform::Clock>();
  log.Trace = 710;
  const std::int64_t deadline = clock.SteadyMilliseconds() + processes.CaptureDeadlineMs();
  const std::size_t limit = processes.CaptureLimitBytes();
  char buffer[kReadSize + 1];
  for (bool full = false; !full;) {
    const platform::ReadResult read = pipe.Read(buffer, kReadSize, deadline);
    if (read.status == platform::ReadStatus::kData) full = Keep(output, buffer, read.count, limit);
    processes.YieldTimeSlice();
    log.Trace = 720;
    if (read.status != platform::ReadStatus::kData) break;
    if (clock.SteadyMilliseconds() > deadline) break;
  }
  log.Trace = 730;
}

}  // namespace

std::string GetDosOutput(const std::string& Command, const std::string& Directory) {
  std::string output;
  tLogRec log;
  CountedGuarded("tov32.GetDosOutput", log, [&] {
    log.Trace = 200;
    const std::unique_ptr<platform::CapturePipe> pipe = platform::Use<platform::Processes>().CreatePipe();
    if (!pipe) return;
    log.Trace = 300;  // the child's start-up description is the pipe's to build
    log.Trace = 500;
    const std::string directory = Directory;
    log.Trace = 600;
    const bool started = pipe->StartChild(platform::kShellPrefix + Command, directory);
    log.Trace = 700;
    pipe->CloseWriteEnd();
    if (!started) return;
    ChildRelease release(*pipe, log);
    ReadUntilEndOrDeadline(*pipe, output, log);
  });
  return output;
}

}  // namespace tov32
