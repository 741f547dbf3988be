// Capture throughput: GetDosOutput against bare read loops on the same kind
// of pipe, 255-byte reads with the same yield (the floor the read size
// allows) and 64 KiB reads (what the pipe allows).
#include <benchmark/benchmark.h>

#include "bench/capture_loops.h"
#include "tov32/probes/dos_output.h"

namespace {

std::string Command(benchmark::State& state) { return norva_bench::WriterCommand(state.range(0)); }

void Expect(benchmark::State& state, std::size_t bytes) {
  if (bytes != static_cast<std::size_t>(state.range(0)) << 20) state.SkipWithError("short capture");
}

void GetDosOutputCapture(benchmark::State& state) {
  const std::string command = Command(state), directory = norva_bench::WriterDirectory();
  for (auto _ : state) {
    const std::string output = tov32::GetDosOutput(command, directory);
    Expect(state, output.size());
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}

void BareLoop(benchmark::State& state, std::size_t readSize, bool yield) {
  const std::string command = Command(state), directory = norva_bench::WriterDirectory();
  for (auto _ : state) Expect(state, norva_bench::BareLoop(command, directory, readSize, yield));
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}

void BareLoop255(benchmark::State& state) { BareLoop(state, 255, true); }
void BareLoop64K(benchmark::State& state) { BareLoop(state, 65536, false); }

}  // namespace

BENCHMARK(GetDosOutputCapture)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLoop255)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLoop64K)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
