#include "tov32/probes/dos_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/child.h"
#include "tests/support/fakes.h"
#include "tests/support/shell_reference.h"
#include "tests/support/temp_dir.h"
#include "tov32/faults/fault_records.h"
#include "tov32/platform/clock.h"

namespace {

using norva_test::ChildCommand;
using norva_test::ProgramDirectory;
using tov32::platform::ScopedReplacement;

class GetDosOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { handlesBefore = tov32::platform::OpenHandleCount(); }
  void TearDown() override {
    EXPECT_EQ(tov32::platform::OpenHandleCount(), handlesBefore);
    EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
  }
  int handlesBefore = 0;
};

std::string Letters(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

TEST_F(GetDosOutputTest, CapturesTheExactBytesInOrder) {
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("crlf"), ProgramDirectory()), "abc\r\n");
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("bytes", "100000"), ProgramDirectory()), Letters(100000));
}

TEST_F(GetDosOutputTest, KeepsZeroBytesAndStandardError) {
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("nul"), ProgramDirectory()),
            std::string("ab\0cd", 5) + std::string(300, 'z'));
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("stderr"), ProgramDirectory()), "only errors\r\n");
}

TEST_F(GetDosOutputTest, UnusableDirectoryGivesNothingAndNoReport) {
  norva_test::ReportRecorder recorder;
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("crlf"), ProgramDirectory() + "no-such-directory"), "");
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("crlf"), ""), "");
  EXPECT_TRUE(recorder.records().empty());
}

TEST_F(GetDosOutputTest, DeadlineEndsASilentAndAFloodingChild) {
  norva_test::FakeProcesses processes;
  processes.deadlineMs = 300;
  ScopedReplacement<tov32::platform::Processes> use(processes);
  tov32::platform::Clock& clock = tov32::platform::Native<tov32::platform::Clock>();

  const std::int64_t start = clock.SteadyMilliseconds();
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("silent", "4000"), ProgramDirectory()), "");
  EXPECT_LT(clock.SteadyMilliseconds() - start, 3500) << "the silent child held the capture";

  const std::string flood = tov32::GetDosOutput(ChildCommand("flood"), ProgramDirectory());
  EXPECT_GT(flood.size(), 0u);
  EXPECT_EQ(flood.substr(0, 26), Letters(26));
}

#ifndef _WIN32
int ZombieChildren() {
  const long self = std::stol(std::filesystem::read_symlink("/proc/self").string());
  int zombies = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    char state = 0;
    long parent = 0;
    fields >> state >> parent;
    if (state == 'Z' && parent == self) ++zombies;
  }
  return zombies;
}

// Children let go at the deadline end later; the next capture reaps them.
TEST_F(GetDosOutputTest, LetGoChildrenDoNotStayZombies) {
  norva_test::FakeProcesses processes;
  processes.deadlineMs = 200;
  ScopedReplacement<tov32::platform::Processes> use(processes);
  for (int i = 0; i < 3; ++i) tov32::GetDosOutput(ChildCommand("silent", "600"), ProgramDirectory());
  tov32::platform::SleepMilliseconds(1000);
  EXPECT_EQ(tov32::GetDosOutput(ChildCommand("crlf"), ProgramDirectory()), "abc\r\n");
  EXPECT_LE(ZombieChildren(), 1) << "only the last child may not have been reaped yet";
}

void WriteProgram(const std::filesystem::path& path, const std::string& text) {
  norva_test::WriteFile(path.string(), text);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// Commands that need no shell are started without one: each command gives
// exactly the bytes that /bin/sh -c gives for it in the same folder.
TEST_F(GetDosOutputTest, EveryCommandGivesWhatTheShellGives) {
  norva_test::TempDir dir;
  const std::filesystem::path root = dir.root();
  WriteProgram(root / "tool", "#!/bin/sh\necho \"tool $0 [$#] $*\"\necho \"pwd $PWD\"\n");
  std::filesystem::create_directory(root / "sub");
  WriteProgram(root / "sub/tool2", "#!/bin/sh\necho \"tool2 $0 $*\"\n");
  WriteProgram(root / "bare", "echo without an interpreter line $0\n");
  norva_test::WriteFile((root / "notexec").string(), "#!/bin/sh\necho never\n");
  norva_test::WriteFile((root / "data.txt").string(), "one\ntwo\n");
  const char* const commands[] = {
      // plain commands
      "tool", "tool a b", "  tool\ta   b\t", "./tool x", "sub/tool2 y", "sub/../tool z", "cat data.txt",
      "wc -l data.txt", "ls", "ls -a .", "cat", "uname -s", "tool a,b:c+d@e.f_g-h",
      // what the shell treats specially
      "tool 'quoted' \"double\"", "tool $HOME", "tool a\\ b", "tool *", "tool d?ta.txt", "tool [a-z]*",
      "tool ~", "tool {a,b}", "tool a | tr a-z A-Z", "tool > out.txt; cat out.txt", "tool && tool x",
      "tool || tool", "tool & wait", "(tool)", "tool `echo x`", "tool # a comment", "A=1 tool", "tool a=b",
      "tool 50%", "tool !x", "if true; then tool; fi", "for x in 1 2; do tool $x; done", "exit 3", "cd sub",
      "export A=1", ". ./tool", "eval tool", "exec tool", "set", "echo -e x", "printf x", "test -d .", "pwd",
      "true", "false", "type tool", "tool\nx",
      // programs that cannot be found or started directly
      "no-such-program", "no-such-program with arguments", "./no-such", "sub/no-such x", "notexec",
      "./notexec", "bare", "./bare", "sub", "./sub",
      // bytes outside plain ASCII
      "tool \xc3\xa9t\xc3\xa9", "tool \xe9", "\xc3\xa9", "tool \x01",
  };
  for (const char* command : commands) {
    EXPECT_EQ(tov32::GetDosOutput(command, dir.root().string()), norva_test::ShellOutput(command, dir.root().string()))
        << command;
  }
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A program started directly gets the environment that the shell would
// have handed on (only the order of the variables may differ).
TEST_F(GetDosOutputTest, ADirectStartGetsTheShellsEnvironment) {
  norva_test::TempDir dir;
  const std::string env = tov32::GetDosOutput("env", dir.root().string());
  EXPECT_NE(env.find("PATH=.:"), std::string::npos) << env;
  EXPECT_EQ(SortedLines(env), SortedLines(norva_test::ShellOutput("env", dir.root().string())));
}

// A plain command is started without a shell, also from a folder whose name
// holds shell syntax, which stays only a folder.
TEST_F(GetDosOutputTest, APlainCommandStartsNoShell) {
  norva_test::TempDir dir;
  const std::string self = norva_test::ReadFile("/proc/self/comm");
  for (const std::string name : {"plain", "a;b $(touch pwned) `touch pwned` 'q' \"r\" & | > x"}) {
    const std::filesystem::path folder = dir.root() / name;
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink(tov32::platform::Native<tov32::platform::Machine>().ModuleFileName(),
                                    folder / "child");
    EXPECT_EQ(tov32::GetDosOutput("child --capture-child parent", folder.string()) + "\n", self) << name;
    EXPECT_EQ(tov32::GetDosOutput("child --capture-child parent; true", folder.string()), "sh") << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.root() / "pwned"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()), std::filesystem::directory_iterator()), 2);
}
#endif

}  // namespace
