// The Windows build under Wine, run from the Linux side. NORVA_WINDOWS_AUDIT
// names its NorvaAudit.exe and NORVA_WINDOWS_FAULTY its fault-injecting twin.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/e2e/program_runner.h"

namespace {

namespace fs = std::filesystem;
using norva_e2e::Output;
using norva_e2e::RunOptions;
using norva_e2e::RunProgram;
using norva_e2e::Scratch;
using norva_e2e::WriteBytes;


std::string ValueOf(const std::string& output, const std::string& label) {
  const std::size_t start = output.find("\r\n" + label + ": ");
  if (start == std::string::npos) return "?";
  const std::size_t value = start + label.size() + 4;
  return output.substr(value, output.find("\r\n", value) - value);
}

class WineAudit : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("NORVA_WINDOWS_AUDIT");
    if (program == nullptr) GTEST_SKIP() << "NORVA_WINDOWS_AUDIT names no Windows build";
    program_ = program;
  }

  norva_e2e::RunResult Run(const fs::path& exe, RunOptions options = {}) {
    return RunProgram({NORVA_WINE_RUN, exe.string()}, options);
  }

  // A copy of the program beside a wmic.cmd that writes the real tool's
  // piped format from one file per property.
  void PlaceWithFakeTool(const fs::path& folder, const fs::path& exe) {
    fs::copy_file(exe, folder / "NorvaAudit.exe");
    WriteBytes(folder / "wmic.cmd", "@type %3.txt\r\n");
    WriteBytes(folder / "version.txt", "Version     \r\r\n10.0.19045  \r\r\n\r\r\n");
    WriteBytes(folder / "installdate.txt", "InstallDate                \r\r\n20210107140509.000000+060  \r\r\n\r\r\n");
    WriteBytes(folder / "totalvisiblememorysize.txt",
               "TotalVisibleMemorySize  \r\r\n16633492                \r\r\n\r\r\n");
    WriteBytes(folder / "numberofcores.txt", "NumberOfCores  \r\r\n4              \r\r\n4              \r\r\n\r\r\n");
  }

  // A copy of the program beside the stand-in that behaves like the real
  // tool (it reads a piped input to its end before it answers).
  void PlaceWithStandIn(const fs::path& folder, const std::string& toolName = "wmic.exe") {
    const char* standIn = std::getenv("NORVA_WINDOWS_WMIC");
    ASSERT_NE(standIn, nullptr) << "NORVA_WINDOWS_WMIC names no stand-in";
    fs::create_directories(folder);
    fs::copy_file(program_, folder / "NorvaAudit.exe");
    fs::copy_file(standIn, folder / toolName);
  }

  static fs::path Planted() {
    const char* planted = std::getenv("NORVA_WINDOWS_PLANTED");
    return planted != nullptr ? planted : "";
  }

  static void ExpectEveryToolValue(const std::string& output) {
    for (const char* label : {"OS Install Date", "OS Version", "Total Visible Memory Size"}) {
      EXPECT_NE(ValueOf(output, label), "") << label << "\n" << output;
      EXPECT_EQ(ValueOf(output, label).find("planted"), std::string::npos) << label;
    }
    EXPECT_NE(ValueOf(output, "Number of Cores"), "") << output;
  }

  // A copy of the test prefix without the tool, in `scratch`: the
  // environment that runs programs in it.
  static std::vector<std::string> PrefixWithoutTool(const Scratch& scratch) {
    const char* prefix = std::getenv("NORVA_WINEPREFIX");
    const fs::path source =
        prefix != nullptr ? fs::path(prefix) : fs::path(NORVA_WINE_RUN).parent_path() / "../build/wineprefix";
    const fs::path hidden = scratch / "prefix";
    fs::copy(source, hidden, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    int removed = 0;
    for (const auto& entry : fs::recursive_directory_iterator(hidden / "drive_c/windows")) {
      std::string name = entry.path().filename().string();
      for (char& byte : name) byte = static_cast<char>(std::tolower(static_cast<unsigned char>(byte)));
      if (name == "wmic.exe" && fs::remove(entry.path())) ++removed;
    }
    EXPECT_GT(removed, 0) << "this prefix has no wmic.exe to hide";
    return {"NORVA_WINEPREFIX=" + hidden.string(), "WINEDLLOVERRIDES=wmic.exe=d"};
  }

  static void StopServerOf(const Scratch& scratch) {
    norva_e2e::CommandOutput("WINEPREFIX='" + (scratch / "prefix").string() + "' wineserver -k 2>/dev/null");
  }

  fs::path program_;
};

// Remote-execution tools and CI agents leave standard input an open pipe.
TEST_F(WineAudit, StandardInputLeftOpenHoldsNoQuery) {
  Scratch scratch;
  PlaceWithStandIn(scratch.root());
  RunOptions options;
  options.input = norva_e2e::Input::kOpenPipe;
  options.timeoutMs = 200000;
  const auto run = Run(scratch / "NorvaAudit.exe", options);
  EXPECT_EQ(run.exitCode, 0) << run.error;
  ExpectEveryToolValue(run.output);
  EXPECT_LT(run.exitedAtMs, 20000) << "a query waited for the input's end";
  std::printf("open standard input: %lld ms\n", static_cast<long long>(run.exitedAtMs));
}

// A cmd.exe in the program's folder or in the current directory is never
// the interpreter that runs the queries.
TEST_F(WineAudit, NoPlantedInterpreterRuns) {
  Scratch scratch;
  PlaceWithStandIn(scratch / "program");
  fs::create_directories(scratch / "cwd");
  fs::copy_file(Planted(), scratch / "program/cmd.exe");
  fs::copy_file(Planted(), scratch / "cwd/cmd.exe");
  RunOptions options;
  options.directory = (scratch / "cwd").string();
  const auto run = Run(scratch / "program/NorvaAudit.exe", options);
  EXPECT_EQ(run.exitCode, 0) << run.error;
  ExpectEveryToolValue(run.output);
  EXPECT_FALSE(fs::exists(scratch / "program/planted-ran"));
  EXPECT_FALSE(fs::exists(scratch / "cwd/planted-ran"));
}

// A caller reads the program's output through an inheritable pipe while one
// query's tool hangs past the deadline: the hung tool holds none of it.
TEST_F(WineAudit, AHungToolHoldsNothingOfTheCaller) {
  Scratch scratch;
  PlaceWithStandIn(scratch.root(), "standin.exe");
  fs::copy_file(Planted(), scratch / "hang.exe");
  WriteBytes(scratch / "wmic.cmd",
             "@if \"%3\"==\"numberofcores\" hang.exe --sleep 46000\r\n"
             "@if not \"%3\"==\"numberofcores\" standin.exe %*\r\n");
  RunOptions options;
  options.output = Output::kPipe;
  options.timeoutMs = 200000;
  const auto run = Run(scratch / "NorvaAudit.exe", options);
  EXPECT_EQ(run.exitCode, 0) << run.error;
  EXPECT_NE(ValueOf(run.output, "OS Version"), "") << run.output;
  ASSERT_GE(run.outputEndedAtMs, 0) << "the output never ended";
  EXPECT_LT(run.outputEndedAtMs - run.exitedAtMs, 1000);
  std::printf("exit after %lld ms, end of output %lld ms later\n", static_cast<long long>(run.exitedAtMs),
              static_cast<long long>(run.outputEndedAtMs - run.exitedAtMs));
}

TEST_F(WineAudit, FakeToolGivesTheExactReport) {
  Scratch scratch;
  PlaceWithFakeTool(scratch.root(), program_);
  const auto run = Run(scratch / "NorvaAudit.exe");
  EXPECT_EQ(run.exitCode, 0) << run.error;
  const std::regex report(
      "NORVA Audit v2021\\.1\\.7\\.857\r\n\\.{8}\r\nVersion: 2021\\.1\\.7\\.857\r\nHost Name: [^\r\n]+\r\n"
      "Machine Up Time: \\d+w\\dd\\d+h\\d+m\\d+s\r\nOS Install Date: 20210107140509\\.000000\\+060\r\n"
      "OS Version: 10\\.0\\.19045\r\nTotal Visible Memory Size: 16633492\r\nNumber of Cores: 8\r\n"
      "Duration: [\\d,]+ms\r\n");
  EXPECT_TRUE(std::regex_match(run.output, report)) << run.output;
}

TEST_F(WineAudit, BrokenStandardOutputEndsWithTheLastChanceMessage) {
  const std::pair<Output, int> cases[] = {
      {Output::kClosed, 6}, {Output::kFullDevice, 112}, {Output::kPipeWithoutReader, 233}};
  for (const auto& c : cases) {
    RunOptions options;
    options.output = c.first;
    const auto run = Run(program_, options);
    EXPECT_EQ(run.exitCode, 1);
    const std::regex message("Exception EInOutError in module NorvaAudit\\.exe at [0-9A-F]{8}\\.\r\nI/O error " +
                             std::to_string(c.second) + "\\.\r\n\r\n");
    EXPECT_TRUE(std::regex_match(run.error, message)) << run.error;
  }
}

// Wine's own tool, then a prefix without it: the values come from the
// system directly and agree with what the tool reported.
TEST_F(WineAudit, ValuesWithWinesOwnToolAndWithoutAnyTool) {
  const auto withTool = Run(program_);
  EXPECT_EQ(withTool.exitCode, 0);
  for (const char* label : {"OS Version", "Total Visible Memory Size", "Number of Cores"}) {
    EXPECT_NE(ValueOf(withTool.output, label), "") << label;
  }

  Scratch scratch;
  RunOptions options;
  options.environment = PrefixWithoutTool(scratch);
  const auto withoutTool = Run(program_, options);
  EXPECT_EQ(withoutTool.exitCode, 0);
  for (const char* label : {"Host Name", "Machine Up Time", "OS Install Date", "OS Version",
                            "Total Visible Memory Size", "Number of Cores"}) {
    const std::string value = ValueOf(withoutTool.output, label);
    EXPECT_NE(value, "") << label;
    EXPECT_EQ(value.find("recognize"), std::string::npos) << label << ": " << value;
    EXPECT_EQ(value.find("operable"), std::string::npos) << label << ": " << value;
  }
  for (const char* label : {"OS Version", "Total Visible Memory Size", "Number of Cores"}) {
    EXPECT_EQ(ValueOf(withoutTool.output, label), ValueOf(withTool.output, label)) << label;
  }
  std::printf("with the tool:\n%s\nwithout it:\n%s\n", withTool.output.c_str(), withoutTool.output.c_str());
  StopServerOf(scratch);
}

// With the tool gone from the system, a relative PATH entry is taken from
// the program's folder, where the queries run, as cmd.exe takes it: a tool
// there answers, and one under the current directory is never looked at.
TEST_F(WineAudit, RelativePathEntriesAreTakenFromTheProgramsFolder) {
  Scratch scratch;
  RunOptions options;
  options.environment = PrefixWithoutTool(scratch);
  options.environment.push_back("WINEPATH=rel");
  options.directory = (scratch / "cwd").string();
  fs::create_directories(scratch / "cwd/rel");
  WriteBytes(scratch / "cwd/rel/wmic.cmd", "@echo Header\r\n@echo planted\r\n");

  PlaceWithStandIn(scratch / "beside", "unused.exe");
  const auto direct = Run(scratch / "beside/NorvaAudit.exe", options);
  EXPECT_EQ(direct.exitCode, 0) << direct.error;
  ExpectEveryToolValue(direct.output);

  fs::remove(scratch / "cwd/rel/wmic.cmd");
  fs::create_directories(scratch / "program/rel");
  PlaceWithFakeTool(scratch / "program", program_);
  fs::rename(scratch / "program/wmic.cmd", scratch / "program/rel/wmic.cmd");
  const auto fromRel = Run(scratch / "program/NorvaAudit.exe", options);
  EXPECT_EQ(fromRel.exitCode, 0) << fromRel.error;
  EXPECT_EQ(ValueOf(fromRel.output, "OS Version"), "10.0.19045") << fromRel.output;
  EXPECT_EQ(ValueOf(fromRel.output, "Number of Cores"), "8") << fromRel.output;
  StopServerOf(scratch);
}

// Every allocation of a whole run fails in turn: each run
// ends with the report or the last-chance message, and a caught fault
// leaves its report file beside the program.
TEST_F(WineAudit, InjectedFaultsLeaveReportsBesideTheProgram) {
  const char* faulty = std::getenv("NORVA_WINDOWS_FAULTY");
  if (faulty == nullptr) GTEST_SKIP() << "NORVA_WINDOWS_FAULTY names no program";
  Scratch scratch;
  PlaceWithFakeTool(scratch.root(), faulty);
  const fs::path unused = scratch / "unused";
  int reports = 0, runs = 0, lastChances = 0;
  for (long nth = 1; !fs::exists(unused) && nth < 5000; ++nth) {
    RunOptions options;
    options.environment = {"NORVA_FAIL_ALLOCATION=" + std::to_string(nth),
                           "NORVA_FAULT_UNUSED=Z:" + unused.string()};
    const auto run = Run(scratch / "NorvaAudit.exe", options);
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << "allocation " << nth << ": " << run.exitCode;
    ++runs;
    if (run.exitCode == 1) ++lastChances;
    for (const auto& entry : fs::directory_iterator(scratch.root())) {
      const std::string name = entry.path().filename().string();
      if (std::regex_match(name, std::regex("EXCEPTION--\\d{17}\\.XML"))) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string report((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(report.rfind("<xml>\r\n<Exception>\r\n", 0), 0u) << report;
        ++reports;
        file.close();
        fs::remove(entry.path());
      }
    }
  }
  EXPECT_TRUE(fs::exists(unused));
  EXPECT_GT(reports, 0);
  std::printf("%d runs: %d with a fault report, %d ended with exit 1\n", runs, reports, lastChances);
}

}  // namespace
