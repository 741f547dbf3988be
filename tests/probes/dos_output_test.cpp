#include "tov32/probes/dos_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/child.h"
#include "tests/support/fakes.h"
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
#endif

}  // namespace
