// The exception report, tones off, against writing the same bytes.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "tov32/faults/exception_report.h"
#include "tov32/faults/text_file.h"
#include "tov32/platform/machine.h"
#include "tov32/text/formatting.h"

namespace {

tov32::tExceptionRec Record() {
  tov32::tExceptionRec rec;
  rec.Function = "tov32.GetDosOutput";
  rec.ClassName = "EOutOfMemory";
  rec.Message = "Out of memory";
  rec.Trace = 1110;
  rec.FileName = "bench-report.XML";
  return rec;
}

void SaveExceptionRecAsXMLReport(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tov32::SaveExceptionRecAsXML(Record()));
}

void WriteTextFileSameBytes(benchmark::State& state) {
  const std::string path = tov32::SaveExceptionRecAsXML(Record());
  std::string bytes(std::filesystem::file_size(path), '\0');
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr || std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) state.SkipWithError("no report");
  if (file != nullptr) std::fclose(file);
  for (auto _ : state) benchmark::DoNotOptimize(tov32::WriteTextFile(bytes, path, false, ""));
  std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(SaveExceptionRecAsXMLReport)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteTextFileSameBytes)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
