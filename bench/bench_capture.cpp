// Capture throughput: GetDosOutput against bare read loops on the same kind
// of pipe, 255-byte reads with the same yield (the floor the read size
// allows) and 64 KiB reads (what the pipe allows).
#include <benchmark/benchmark.h>

#include "tov32/platform/clock.h"
#include "tov32/platform/machine.h"
#include "tov32/platform/process.h"
#include "tov32/probes/dos_output.h"
#include "tov32/text/formatting.h"

namespace {

namespace platform = tov32::platform;

std::string Command(benchmark::State& state) { return std::string(NORVA_BENCH_WRITER) + " " + std::to_string(state.range(0)); }

std::string Directory() { return tov32::PathDirPart(platform::Native<platform::Machine>().ModuleFileName()); }

void Expect(benchmark::State& state, std::size_t bytes) {
  if (bytes != static_cast<std::size_t>(state.range(0)) << 20) state.SkipWithError("short capture");
}

void GetDosOutputCapture(benchmark::State& state) {
  const std::string command = Command(state), directory = Directory();
  for (auto _ : state) {
    const std::string output = tov32::GetDosOutput(command, directory);
    Expect(state, output.size());
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}

void BareLoop(benchmark::State& state, std::size_t readSize, bool yield) {
  const std::string line = std::string(platform::kShellPrefix) + Command(state), directory = Directory();
  platform::Processes& processes = platform::Native<platform::Processes>();
  std::string buffer(readSize, '\0');
  for (auto _ : state) {
    const auto pipe = processes.CreatePipe();
    pipe->StartChild(line, directory);
    pipe->CloseWriteEnd();
    std::size_t total = 0;
    const std::int64_t deadline = platform::Native<platform::Clock>().SteadyMilliseconds() + 40000;
    for (;;) {
      const platform::ReadResult read = pipe->Read(buffer.data(), readSize, deadline);
      if (yield) processes.YieldTimeSlice();
      if (read.status != platform::ReadStatus::kData) break;
      total += read.count;
    }
    pipe->ReleaseChild();
    Expect(state, total);
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}

void BareLoop255(benchmark::State& state) { BareLoop(state, 255, true); }
void BareLoop64K(benchmark::State& state) { BareLoop(state, 65536, false); }

}  // namespace

BENCHMARK(GetDosOutputCapture)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLoop255)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLoop64K)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
