// The native audit against its floor, and the wmic stand-in against
// /bin/true, every program started by posix_spawn and waited for, in one
// interleaved run so that the machine's drift touches all alike. The floor
// of an audit is one trivial process (the audit itself) plus four direct
// runs of the stand-in (its queries). Writes Google Benchmark's JSON medians
// for scripts/bench_table.py and prints the two ratios.
// Usage: process_floor FOLDER ROUNDS OUTPUT.json  (FOLDER holds NorvaAudit and wmic)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/median_json.h"

extern char** environ;

namespace {

using norva_bench::Median;
using norva_bench::WriteMedian;
using Clock = std::chrono::steady_clock;

const std::vector<std::vector<std::string>> kQueries = {
    {"wmic", "os", "get", "totalvisiblememorysize"},
    {"wmic", "os", "get", "installdate"},
    {"wmic", "os", "get", "version"},
    {"wmic", "cpu", "get", "numberofcores"},
};

// Milliseconds from the start of `program` to its end, with the null
// device as its standard input and output, in `directory`.
double TimedRun(const std::string& program, const std::vector<std::string>& arguments, const std::string& directory) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  const Clock::time_point start = Clock::now();
  pid_t child = -1;
  int status = 0;
  if (posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) != 0 ||
      waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s did not run to a good end\n", program.c_str());
    std::exit(1);
  }
  const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return elapsed;
}


}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: process_floor FOLDER [ROUNDS] [OUTPUT.json]\n", stderr);
    return 2;
  }
  char* absolute = realpath(argv[1], nullptr);
  if (absolute == nullptr) {
    std::fprintf(stderr, "no folder %s\n", argv[1]);
    return 2;
  }
  const std::string folder = absolute;
  std::free(absolute);
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 41;
  const std::string audit = folder + "/NorvaAudit", standIn = folder + "/wmic";
  std::vector<double> audits, trues, floors, standIns;
  for (int round = 0; round < rounds; ++round) {
    audits.push_back(TimedRun(audit, {"NorvaAudit"}, folder));
    const double trivial = TimedRun("/bin/true", {"true"}, folder);
    double queries = 0;
    for (const auto& query : kQueries) {
      const double one = TimedRun(standIn, query, folder);
      standIns.push_back(one);
      queries += one;
    }
    trues.push_back(trivial);
    floors.push_back(trivial + queries);
  }
  const double audit_ms = Median(audits), floor_ms = Median(floors);
  const double standIn_ms = Median(standIns), true_ms = Median(trues);
  std::printf("%d rounds, medians:\n", rounds);
  std::printf("  audit %.2f ms, floor %.2f ms (/bin/true %.2f ms + four stand-in runs %.2f ms): %.2fx (goal <= 1.20x)\n",
              audit_ms, floor_ms, true_ms, floor_ms - true_ms, audit_ms / floor_ms);
  std::printf("  stand-in %.2f ms, /bin/true %.2f ms: %.2fx (goal <= 1.20x)\n", standIn_ms, true_ms,
              standIn_ms / true_ms);
  if (argc > 3) {
    std::ofstream json(argv[3]);
    json << "{\"benchmarks\": [\n";
    bool first = true;
    WriteMedian(json, first, "ProcessFloor/audit", audit_ms);
    WriteMedian(json, first, "ProcessFloor/floor", floor_ms);
    WriteMedian(json, first, "ProcessFloor/stand_in", standIn_ms);
    WriteMedian(json, first, "ProcessFloor/bin_true", true_ms);
    json << "\n]}\n";
  }
  return 0;
}
