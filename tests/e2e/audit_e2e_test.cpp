// The built program, run as a user runs it: natively, and the Windows build
// under Wine when NORVA_WINDOWS_BUILD names its build folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/e2e/program_runner.h"

namespace {

namespace fs = std::filesystem;
using norva_e2e::Output;
using norva_e2e::RunOptions;
using norva_e2e::RunProgram;
using norva_e2e::Scratch;
using norva_e2e::WriteBytes;

const char* const kLinePatterns[] = {
    "NORVA Audit v2021\\.1\\.7\\.857",
    "\\.{8}",
    "Version: 2021\\.1\\.7\\.857",
    "Host Name: .*",
    "Machine Up Time: \\d+w\\dd\\d{1,2}h\\d{1,2}m\\d{1,2}s",
    "OS Install Date: .*",
    "OS Version: .*",
    "Total Visible Memory Size: .*",
    "Number of Cores: \\d+",
    "Duration: [\\d,]+ms",
};

// The report's lines without their CR LF; fails the test unless every line
// ends in CR LF and nothing follows the last.
std::vector<std::string> ReportLines(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "bytes after the last CR LF: " << output.substr(start);
      break;
    }
    lines.push_back(output.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void ExpectReportLayout(const std::vector<std::string>& lines) {
  ASSERT_EQ(lines.size(), 10u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(kLinePatterns[i]))) << lines[i];
  }
}

std::string ValueOf(const std::vector<std::string>& lines, const std::string& label) {
  for (const std::string& line : lines) {
    if (line.rfind(label + ": ", 0) == 0) return line.substr(label.size() + 2);
  }
  return "?";
}

// The message's second line: the fault's text, without its full stop.
std::string LastChanceText(const std::string& error) {
  static const std::regex message("Exception EInOutError in module [^ ]+ at [0-9A-F]{8}\\.\r\n(.*)\\.\r\n\r\n");
  std::smatch match;
  return std::regex_match(error, match, message) ? match[1].str() : "?";
}

std::string NativeProgram() { return NORVA_NATIVE_AUDIT; }


std::uint64_t MemTotalKb() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t value = 0;
  while (meminfo >> key >> value) {
    if (key == "MemTotal:") return value;
    meminfo.ignore(256, '\n');
  }
  return 0;
}

int PhysicalCores() {
  std::istringstream lines(norva_e2e::CommandOutput("lscpu -p=SOCKET,CORE"));
  std::set<std::string> cores;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != '#') cores.insert(line);
  }
  return static_cast<int>(cores.size());
}

double UpTimeSeconds(const std::string& text) {
  std::smatch parts;
  if (!std::regex_match(text, parts, std::regex("(\\d+)w(\\d+)d(\\d+)h(\\d+)m(\\d+)s"))) return -1;
  return ((((std::stod(parts[1]) * 7 + std::stod(parts[2])) * 24 + std::stod(parts[3])) * 60 + std::stod(parts[4])) *
          60) +
         std::stod(parts[5]);
}

double ProcUpTime() {
  std::ifstream uptime("/proc/uptime");
  double seconds = 0;
  uptime >> seconds;
  return seconds;
}

TEST(NativeAudit, FileHoldsTheTenLinesWithTheMachinesValues) {
  const double before = ProcUpTime();
  const auto run = RunProgram({NativeProgram()}, {});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.error, "");
  const std::vector<std::string> lines = ReportLines(run.output);
  ExpectReportLayout(lines);
  EXPECT_EQ(ValueOf(lines, "Host Name"), norva_e2e::HostNodeName());
  EXPECT_EQ(ValueOf(lines, "OS Version"), norva_e2e::KernelRelease());
  EXPECT_EQ(ValueOf(lines, "Total Visible Memory Size"), std::to_string(MemTotalKb()));
  EXPECT_EQ(ValueOf(lines, "Number of Cores"), std::to_string(PhysicalCores()));
  EXPECT_TRUE(std::regex_match(ValueOf(lines, "OS Install Date"), std::regex("\\d{14}\\.000000[+-]\\d{3}")));
  const double upTime = UpTimeSeconds(ValueOf(lines, "Machine Up Time"));
  EXPECT_GE(upTime, before - 3);
  EXPECT_LE(upTime, ProcUpTime() + 3);
}

TEST(NativeAudit, BrokenStandardOutputEndsWithTheLastChanceMessage) {
  const std::pair<Output, const char*> cases[] = {
      {Output::kClosed, "I/O error 105"}, {Output::kFullDevice, "Disk full"}, {Output::kPipeWithoutReader, "I/O error 32"}};
  for (const auto& c : cases) {
    RunOptions options;
    options.output = c.first;
    const auto run = RunProgram({NativeProgram()}, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LastChanceText(run.error), c.second) << run.error;
    EXPECT_NE(run.error.find(" in module NorvaAudit at "), std::string::npos) << run.error;
  }
}

// A slow stand-in for the management tool makes each step take a while, so
// that dots written one by one arrive one by one.
TEST(NativeAudit, OnATerminalEveryDotShowsAsItIsWritten) {
  Scratch scratch;
  fs::copy_file(NativeProgram(), scratch / "NorvaAudit");
  WriteBytes(scratch / "wmic", "#!/bin/sh\nsleep 0.3\nprintf 'Value  \\r\\r\\n1  \\r\\r\\n\\r\\r\\n'\n");
  fs::permissions(scratch / "wmic", fs::perms::owner_all);
  RunOptions options;
  options.output = Output::kTerminal;
  const auto run = RunProgram({(scratch / "NorvaAudit").string()}, options);
  EXPECT_EQ(run.exitCode, 0);
  // The time at which each byte of the terminal's output arrived.
  std::vector<std::int64_t> arrival;
  for (const auto& chunk : run.chunks) arrival.insert(arrival.end(), chunk.bytes.size(), chunk.atMs);
  const std::size_t firstDot = run.output.find("\r\n") + 2;
  ASSERT_EQ(run.output.substr(firstDot, 10), "........\r\n") << run.output;
  const std::vector<std::int64_t> dotTimes(arrival.begin() + static_cast<long>(firstDot),
                                           arrival.begin() + static_cast<long>(firstDot) + 8);
  ASSERT_EQ(dotTimes.size(), 8u) << run.output;
  // Dots 5 to 8 each follow a query of 0.3 s: they arrive apart.
  for (std::size_t i = 5; i < 8; ++i) EXPECT_GE(dotTimes[i] - dotTimes[i - 1], 200) << i;
  EXPECT_LT(dotTimes[0], run.exitedAtMs - 1000);
}

TEST(NativeAudit, CopiedAloneItStillReportsEveryValue) {
  Scratch scratch;
  fs::copy_file(NativeProgram(), scratch / "NorvaAudit");
  RunOptions options;
  options.environment = {"PATH=/usr/bin:/bin"};
  const auto run = RunProgram({(scratch / "NorvaAudit").string()}, options);
  EXPECT_EQ(run.exitCode, 0);
  const std::vector<std::string> lines = ReportLines(run.output);
  ExpectReportLayout(lines);
  EXPECT_EQ(ValueOf(lines, "OS Version"), norva_e2e::KernelRelease());
  EXPECT_EQ(ValueOf(lines, "Total Visible Memory Size"), std::to_string(MemTotalKb()));
  EXPECT_EQ(ValueOf(lines, "Number of Cores"), std::to_string(PhysicalCores()));
  EXPECT_NE(ValueOf(lines, "OS Install Date"), "");
}

fs::path StandIn() { return fs::path(NativeProgram()).parent_path() / "wmic"; }

void WriteScript(const fs::path& path, const std::string& body) {
  WriteBytes(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all);
}

void ExpectValuesFromThisMachine(const std::vector<std::string>& lines) {
  ExpectReportLayout(lines);
  EXPECT_EQ(ValueOf(lines, "OS Version"), norva_e2e::KernelRelease());
  EXPECT_EQ(ValueOf(lines, "Total Visible Memory Size"), std::to_string(MemTotalKb()));
  EXPECT_EQ(ValueOf(lines, "Number of Cores"), std::to_string(PhysicalCores()));
  EXPECT_NE(ValueOf(lines, "OS Install Date"), "");
}

// Remote-execution tools and CI agents leave standard input an open pipe;
// the stand-in, like the real tool, reads such an input to its end.
TEST(NativeAudit, StandardInputLeftOpenHoldsNoQuery) {
  RunOptions options;
  options.input = norva_e2e::Input::kOpenPipe;
  options.timeoutMs = 60000;
  const auto run = RunProgram({NativeProgram()}, options);
  EXPECT_EQ(run.exitCode, 0);
  ExpectValuesFromThisMachine(ReportLines(run.output));
  EXPECT_LT(run.exitedAtMs, 20000) << "a query waited for the input's end";
}

// A caller reads the program's output through a pipe that it also leaked to
// the program; a tool that lingers after its answer must not hold it.
TEST(NativeAudit, ALingeringToolHoldsNothingOfTheCaller) {
  Scratch scratch;
  fs::copy_file(NativeProgram(), scratch / "NorvaAudit");
  fs::copy_file(StandIn(), scratch / "wmic.real");
  WriteScript(scratch / "wmic", "sleep 20 >/dev/null 2>&1 &\nexec ./wmic.real \"$@\"\n");
  RunOptions options;
  options.output = Output::kPipe;
  options.leakedOutputDescriptor = 5;
  options.timeoutMs = 60000;
  const auto run = RunProgram({(scratch / "NorvaAudit").string()}, options);
  EXPECT_EQ(run.exitCode, 0);
  ExpectValuesFromThisMachine(ReportLines(run.output));
  ASSERT_GE(run.outputEndedAtMs, 0) << "the output never ended";
  EXPECT_LT(run.outputEndedAtMs - run.exitedAtMs, 1000);
}

// A tool that floods one query: the capture keeps at most 64 MiB, or what
// came before the deadline, and holds at most two copies of it at once.
TEST(NativeAudit, AFloodingToolIsCutAndBoundInMemory) {
  struct Case {
    const char* flood;
    std::size_t mostKept;
  };
  const Case cases[] = {
      {"exec yes", std::size_t{64} << 20},
      // About 1.3 MiB a second for the whole 40 s deadline.
      {"while head -c 65536 /dev/zero | tr '\\0' y; do sleep 0.05; done", std::size_t{64} << 20},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    fs::copy_file(NativeProgram(), scratch / "NorvaAudit");
    fs::copy_file(StandIn(), scratch / "wmic.real");
    WriteScript(scratch / "wmic", std::string("[ \"$3\" = version ] || exec ./wmic.real \"$@\"\n") +
                                      "printf 'Version\\r\\r\\n'\n" + c.flood + "\n");
    RunOptions options;
    options.timeoutMs = 90000;
    const auto run = RunProgram({(scratch / "NorvaAudit").string()}, options);
    EXPECT_EQ(run.exitCode, 0) << c.flood;
    EXPECT_LT(run.exitedAtMs, 45000) << c.flood;
    const std::size_t value = run.output.find("OS Version: ");
    ASSERT_NE(value, std::string::npos) << c.flood;
    const std::size_t end = run.output.find("\r\n", value);
    const std::size_t kept = end - value - 12;
    EXPECT_EQ(run.output.substr(value + 12, 1), "y") << c.flood;
    EXPECT_GT(kept, std::size_t{1} << 20) << c.flood;
    EXPECT_LE(kept, c.mostKept) << c.flood;
#ifndef NORVA_SANITIZED  // the sanitizers keep freed memory for a while
    EXPECT_LE(run.peakMemoryKb * 1024, static_cast<long>(2 * kept + (std::size_t{8} << 20)))
        << c.flood << ": kept " << kept;
#endif
    std::printf("%s: %zu bytes kept, peak %ld KiB, %lld ms\n", c.flood, kept, run.peakMemoryKb,
                static_cast<long long>(run.exitedAtMs));
  }
}

// Program folders and search paths that used to lead the query elsewhere:
// the stand-in beside the program runs, or, with none, the values come from
// the system directly; a planted tool never runs.
TEST(NativeAudit, OnlyTheToolBesideTheProgramOrNoneRuns) {
  struct Case {
    const char* what;
    std::string folder;  // the program's, below the scratch folder
    bool withStandIn;
    std::string path;    // PATH, run from the scratch folder's "cwd"
  };
  const std::string deep = std::string(60, 'd') + "/" + std::string(60, 'e') + "/" + std::string(60, 'f') + "/" +
                           std::string(60, 'g') + "/" + std::string(60, 'h');
  const Case cases[] = {
      {"a colon in the folder", "a:b", true, "/usr/bin:/bin"},
      {"a path past 260 bytes", deep, true, "/usr/bin:/bin"},
      {"dot, empty and relative PATH entries", "alone", false, ".::rel:/usr/bin:/bin"},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    const fs::path folder = scratch / c.folder;
    fs::create_directories(folder);
    fs::create_directories(scratch / "cwd/rel");
    fs::copy_file(NativeProgram(), folder / "NorvaAudit");
    if (c.withStandIn) fs::copy_file(StandIn(), folder / "wmic");
    // Where the old look-ups went: the folder before the colon, the folder
    // that a cut at 260 bytes names, the current directory and a relative
    // entry taken from it.
    std::vector<fs::path> planted = {scratch / "a", scratch / "cwd", scratch / "cwd/rel"};
    const std::string program = (folder / "NorvaAudit").string();
    if (program.size() > 260) planted.push_back(program.substr(0, program.rfind('/', 260)));
    const fs::path marker = scratch / "planted-ran";
    for (const fs::path& place : planted) {
      fs::create_directories(place);
      WriteScript(place / "wmic", "touch '" + marker.string() + "'\necho planted\n");
    }
    RunOptions options;
    options.environment = {"PATH=" + c.path};
    options.directory = (scratch / "cwd").string();
    const auto run = RunProgram({(folder / "NorvaAudit").string()}, options);
    EXPECT_EQ(run.exitCode, 0) << c.what;
    ExpectValuesFromThisMachine(ReportLines(run.output));
    EXPECT_FALSE(fs::exists(marker)) << c.what;
  }
}

// Every allocation of a whole run fails in turn, alone or with every one
// after it: each run ends with the full report (exit 0) or the last-chance
// message (exit 1), never otherwise.
void SweepWholeRun(const std::string& variable) {
  Scratch scratch;
  fs::copy_file(NORVA_FAULTY_AUDIT, scratch / "NorvaAudit");
  fs::copy_file(StandIn(), scratch / "wmic");
  const fs::path unused = scratch / "unused";
  int reports = 0, lastChances = 0;
  long nth = 1;
  for (; nth < 5000 && !fs::exists(unused); ++nth) {
    RunOptions options;
    options.environment = {variable + "=" + std::to_string(nth), "NORVA_FAULT_UNUSED=" + unused.string()};
    options.timeoutMs = 60000;
    const auto run = RunProgram({(scratch / "NorvaAudit").string()}, options);
    if (run.exitCode == 0) {
      ExpectReportLayout(ReportLines(run.output));
      EXPECT_EQ(run.error, "");
    } else {
      ASSERT_EQ(run.exitCode, 1) << "allocation " << nth;
      EXPECT_TRUE(std::regex_match(run.error, std::regex("Exception \\w+ in module NorvaAudit at [0-9A-F]{8}\\.\r\n.*\r\n\r\n")))
          << "allocation " << nth << ": " << run.error;
      ++lastChances;
    }
    for (const auto& entry : fs::directory_iterator(scratch.root())) {
      if (entry.path().filename().string().rfind("EXCEPTION-", 0) == 0) {
        ++reports;
        fs::remove(entry.path());
      }
    }
  }
  EXPECT_TRUE(fs::exists(unused)) << "no run completed without a fault";
  EXPECT_GT(lastChances, 0);
  std::printf("%s: %ld runs, %d fault reports, %d with the last-chance message\n", variable.c_str(), nth - 1, reports,
              lastChances);
}

std::vector<fs::path> ReportFilesIn(const fs::path& folder) {
  std::vector<fs::path> reports;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("EXCEPTION-", 0) == 0) reports.push_back(entry.path());
  }
  return reports;
}

// The first allocation whose failure is caught and leaves exactly one
// report while the run still ends with the report on standard output.
long FirstAllocationWithOneReport(const fs::path& folder) {
  for (long nth = 1; nth < 500; ++nth) {
    RunOptions options;
    options.environment = {"NORVA_FAIL_ALLOCATION=" + std::to_string(nth)};
    const auto run = RunProgram({(folder / "NorvaAudit").string()}, options);
    const std::size_t reports = ReportFilesIn(folder).size();
    for (const fs::path& report : ReportFilesIn(folder)) fs::remove(report);
    if (run.exitCode == 0 && reports == 1) return nth;
  }
  return 0;
}

// A logon script starts many copies from one folder at once, each faulting
// once, most within the same few milliseconds: every report is kept whole.
TEST(NativeAudit, ProcessesFaultingAtOnceInOneFolderKeepEveryReport) {
  Scratch scratch;
  fs::copy_file(NORVA_FAULTY_AUDIT, scratch / "NorvaAudit");
  fs::copy_file(StandIn(), scratch / "wmic");
  const long nth = FirstAllocationWithOneReport(scratch.root());
  ASSERT_GT(nth, 0) << "no single allocation fault leaves one report";
  constexpr int kRounds = 4, kAtOnce = 100;
  const std::string round = "cd '" + scratch.root().string() + "' && for i in $(seq " + std::to_string(kAtOnce) +
                            "); do (NORVA_FAIL_ALLOCATION=" + std::to_string(nth) +
                            " ./NorvaAudit >/dev/null 2>&1; echo $?) & done; wait";
  int faults = 0;
  for (int i = 0; i < kRounds; ++i) {
    std::istringstream codes(norva_e2e::CommandOutput(round));
    for (std::string code; std::getline(codes, code);) faults += code == "0" ? 1 : 0;
  }
  EXPECT_EQ(faults, kRounds * kAtOnce);
  const std::vector<fs::path> reports = ReportFilesIn(scratch.root());
  EXPECT_EQ(reports.size(), static_cast<std::size_t>(faults));
  for (const fs::path& report : reports) {
    std::ifstream file(report, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("<xml>\r\n<Exception>\r\n", 0), 0u) << report;
    const std::string end = "</Exception>\r\n</xml>\r\n";
    EXPECT_TRUE(text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) << report;
  }
  std::printf("%d faults, %zu reports\n", faults, reports.size());
}

TEST(NativeAudit, InjectedAllocationFaultsNeverCrashOrHang) { SweepWholeRun("NORVA_FAIL_ALLOCATION"); }

TEST(NativeAudit, LastingMemoryExhaustionStillEndsWithTheMessage) { SweepWholeRun("NORVA_FAIL_ALLOCATIONS_FROM"); }

// A caller's non-blocking output pipe that is full for a while: the program
// waits for room and loses nothing.
TEST(NativeAudit, AFullNonBlockingOutputIsWaitedFor) {
  RunOptions options;
  options.output = Output::kPipe;
  options.outputPipeFullAtStart = true;
  const auto run = RunProgram({NativeProgram()}, options);
  EXPECT_EQ(run.exitCode, 0) << run.error;
  EXPECT_EQ(run.error, "");
  ExpectValuesFromThisMachine(ReportLines(run.output));
}

// Past a file-size limit the write fails (EFBIG) and the run ends with the
// last-chance message, not silently through a signal.
TEST(NativeAudit, AFileSizeLimitEndsWithTheLastChanceMessage) {
  RunOptions options;
  options.fileSizeLimit = 100;
  const auto run = RunProgram({NativeProgram()}, options);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(LastChanceText(run.error), "I/O error " + std::to_string(EFBIG)) << run.error;
}

// Started through a link or under another name, the message names the
// program's own file.
TEST(NativeAudit, LastChanceNamesTheRunningFile) {
  Scratch scratch;
  fs::create_symlink(NativeProgram(), scratch / "alias");
  RunOptions options;
  options.output = Output::kClosed;
  const std::vector<std::vector<std::string>> starts = {
      {(scratch / "alias").string()}, {"/bin/bash", "-c", "exec -a other-name \"$0\"", NativeProgram()}};
  for (const auto& argv : starts) {
    const auto run = RunProgram(argv, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.error.find(" in module NorvaAudit at "), std::string::npos) << run.error;
  }
}

}  // namespace
