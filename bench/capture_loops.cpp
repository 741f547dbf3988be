// The bare read loop that the capture is measured against.
#include "bench/capture_loops.h"

#include "tov32/platform/clock.h"
#include "tov32/platform/machine.h"
#include "tov32/platform/process.h"
#include "tov32/text/formatting.h"

namespace norva_bench {

namespace platform = tov32::platform;

std::string WriterCommand(long mebibytes) { return std::string(NORVA_BENCH_WRITER) + " " + std::to_string(mebibytes); }

std::string WriterDirectory() { return tov32::PathDirPart(platform::Native<platform::Machine>().ModuleFileName()); }

std::size_t BareLoop(const std::string& command, const std::string& directory, std::size_t readSize, bool yield) {
  platform::Processes& processes = platform::Native<platform::Processes>();
  std::string buffer(readSize, '\0');
  const auto pipe = processes.CreatePipe();
  if (!pipe) return 0;
  pipe->StartChild(platform::kShellPrefix + command, directory);
  pipe->CloseWriteEnd();
  std::size_t total = 0;
  const std::int64_t deadline = platform::Native<platform::Clock>().SteadyMilliseconds() + platform::kCaptureDeadlineMs;
  for (;;) {
    const platform::ReadResult read = pipe->Read(buffer.data(), readSize, deadline);
    if (yield) processes.YieldTimeSlice();
    if (read.status != platform::ReadStatus::kData) break;
    total += read.count;
  }
  pipe->ReleaseChild();
  return total;
}

}  // namespace norva_bench
