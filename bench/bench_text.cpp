// Text routines against the standard library doing the nearest equivalent.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <string_view>

#include "tov32/text/between.h"
#include "tov32/text/formatting.h"

namespace {

void FormatNumberOurs(benchmark::State& state) {
  double value = 86400000;
  for (auto _ : state) benchmark::DoNotOptimize(tov32::FormatNumber("#,##0", value += 1));
}

void FormatNumberStd(benchmark::State& state) {
  double value = 86400000;
  char text[64];
  for (auto _ : state) {
    const int length = std::snprintf(text, sizeof text, "%.0f", value += 1);
    benchmark::DoNotOptimize(std::string(text, static_cast<std::size_t>(length)));
  }
}

void FormatDayTimeOurs(benchmark::State& state) {
  double value = 44203.5872;
  for (auto _ : state) benchmark::DoNotOptimize(tov32::FormatDayTime("YYYY-MM-DD HH:NN:SS.ZZZ", value += 1e-5));
}

void FormatDayTimeStd(benchmark::State& state) {
  int second = 0;
  char text[64];
  for (auto _ : state) {
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", 2021, 1, 7, 14, 5,
                                     ++second % 60, 42);
    benchmark::DoNotOptimize(std::string(text, static_cast<std::size_t>(length)));
  }
}

void TextToIntDefOurs(benchmark::State& state) {
  const std::string text = "  123456789";
  for (auto _ : state) benchmark::DoNotOptimize(tov32::TextToIntDef(text, 1));
}

void TextToIntDefStd(benchmark::State& state) {
  const std::string text = "  123456789";
  for (auto _ : state) {
    const std::size_t start = text.find_first_not_of(' ');
    int value = 1;
    std::from_chars(text.data() + start, text.data() + text.size(), value);
    benchmark::DoNotOptimize(value);
  }
}

const std::string kPadded = "  \r\r\n  16633492                \r\r\n\r\r\n";

void TrimBlanksOurs(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tov32::TrimBlanks(kPadded));
}

void TrimBlanksStd(benchmark::State& state) {
  const char* const blanks = " \t\r\n";
  for (auto _ : state) {
    const std::string_view view(kPadded);
    const std::size_t first = view.find_first_not_of(blanks);
    const std::size_t last = view.find_last_not_of(blanks);
    benchmark::DoNotOptimize(std::string(view.substr(first, last - first + 1)));
  }
}

const std::string kOutput = "TotalVisibleMemorySize  \r\r\n16633492                \r\r\n\r\r\n";

void BetweenOurs(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tov32::Between(kOutput, "\r\n", ""));
}

void BetweenStd(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kOutput.substr(kOutput.find("\r\n") + 2));
}

}  // namespace

BENCHMARK(FormatNumberOurs);
BENCHMARK(FormatNumberStd);
BENCHMARK(FormatDayTimeOurs);
BENCHMARK(FormatDayTimeStd);
BENCHMARK(TextToIntDefOurs);
BENCHMARK(TextToIntDefStd);
BENCHMARK(TrimBlanksOurs);
BENCHMARK(TrimBlanksStd);
BENCHMARK(BetweenOurs);
BENCHMARK(BetweenStd);

BENCHMARK_MAIN();
