// Capture throughput of the Windows build under Wine, where Google Benchmark
// is not at hand: GetDosOutput against the bare 255-byte loop for 1, 16 and
// 64 MiB, run in turns, written as Google Benchmark's JSON medians so that
// scripts/bench_table.py reads both builds alike.
// Usage: capture_timing REPETITIONS OUTPUT.json
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/capture_loops.h"
#include "bench/median_json.h"
#include "tov32/probes/dos_output.h"

namespace {

using norva_bench::Median;
using norva_bench::WriteMedian;
using Clock = std::chrono::steady_clock;

double MillisecondsOf(const std::function<std::size_t()>& run, std::size_t expected, bool& short_) {
  const Clock::time_point start = Clock::now();
  const std::size_t bytes = run();
  const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  short_ = short_ || bytes != expected;
  return elapsed;
}


}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::ofstream json(argc > 2 ? argv[2] : "capture_timing.json");
  json << "{\"benchmarks\": [\n";
  bool first = true, short_ = false;
  const std::string directory = norva_bench::WriterDirectory();
  for (long mebibytes : {1L, 16L, 64L}) {
    const std::string command = norva_bench::WriterCommand(mebibytes);
    const std::size_t expected = static_cast<std::size_t>(mebibytes) << 20;
    std::vector<double> captures, loops;
    for (int i = 0; i < repetitions; ++i) {
      captures.push_back(MillisecondsOf([&] { return tov32::GetDosOutput(command, directory).size(); }, expected, short_));
      loops.push_back(MillisecondsOf([&] { return norva_bench::BareLoop(command, directory, 255, true); }, expected, short_));
    }
    const std::string size = "/" + std::to_string(mebibytes) + "/real_time";
    WriteMedian(json, first, "GetDosOutputCapture" + size, Median(captures));
    WriteMedian(json, first, "BareLoop255" + size, Median(loops));
    std::printf("%ld MiB: capture %.1f ms, bare loop %.1f ms\n", mebibytes, Median(captures), Median(loops));
  }
  json << "\n]}\n";
  if (short_) std::fputs("a capture came out short\n", stderr);
  return short_ ? 1 : 0;
}
