// One whole audit run against the four children it starts, run alone: the
// difference is the run's own work.
#include <benchmark/benchmark.h>

#include "audit/audit_run.h"
#include "tov32/platform/console.h"
#include "tov32/platform/machine.h"
#include "tov32/probes/dos_output.h"
#include "tov32/text/formatting.h"

namespace {

namespace platform = tov32::platform;

class DiscardingConsole : public platform::Console {
 public:
  platform::StreamKind StandardOutputKind() override { return platform::StreamKind::kDisk; }
  int WriteStandardOutput(std::string_view bytes) override {
    benchmark::DoNotOptimize(bytes.data());
    return 0;
  }
  void WriteStandardError(std::string_view) override {}
  std::string ToOemCodePage(const std::string& text) override { return text; }
};

void WholeAuditRun(benchmark::State& state) {
  DiscardingConsole console;
  platform::ScopedReplacement<platform::Console> use(console);
  for (auto _ : state) {
    norva::ConsoleStream out;
    norva::RunAudit(out);
    out.Close();
  }
}

void FourChildrenAlone(benchmark::State& state) {
  const std::string directory = tov32::PathDirPart(platform::Native<platform::Machine>().ModuleFileName());
  const char* const commands[] = {"wmic os get totalvisiblememorysize", "wmic os get installdate",
                                  "wmic os get version", "wmic cpu get numberofcores"};
  for (auto _ : state) {
    for (const char* command : commands) benchmark::DoNotOptimize(tov32::GetDosOutput(command, directory));
  }
}

}  // namespace

BENCHMARK(WholeAuditRun)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(FourChildrenAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

BENCHMARK_MAIN();
