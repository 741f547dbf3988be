// Medians written as Google Benchmark's JSON, for the timing programs that
// run without it, so that scripts/bench_table.py reads every figure alike.
#pragma once

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace norva_bench {

inline double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// One {"run_name", "aggregate_name": "median", "real_time"} entry; `first`
// tells whether a separator is due.
inline void WriteMedian(std::ofstream& json, bool& first, const std::string& name, double milliseconds) {
  json << (first ? "" : ",\n") << "  {\"run_name\": \"" << name << "\", \"aggregate_name\": \"median\", "
       << "\"real_time\": " << milliseconds << ", \"time_unit\": \"ms\"}";
  first = false;
}

}  // namespace norva_bench
