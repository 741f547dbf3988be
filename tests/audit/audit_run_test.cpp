#include "audit/audit_run.h"

#include <gtest/gtest.h>

#include <regex>

#include "audit/last_chance.h"
#include "tests/support/fakes.h"
#include "tov32/faults/fault_records.h"

namespace {

using tov32::platform::ScopedReplacement;
using tov32::platform::StreamKind;

// The first steady reading is the audit's start, every later one 1234 ms on.
class SpanClock : public norva_test::FakeClock {
 public:
  std::int64_t SteadyMilliseconds() override { return readings++ == 0 ? 1000 : 2234; }
  int readings = 0;
};

std::string ToolOutput(const std::string& commandLine) {
  const std::pair<const char*, const char*> answers[] = {
      {"os get totalvisiblememorysize", "TotalVisibleMemorySize  \r\r\n16633492                \r\r\n\r\r\n"},
      {"os get installdate", "InstallDate                \r\r\n20210107140509.000000+060  \r\r\n\r\r\n"},
      {"os get version", "Version     \r\r\n10.0.19045  \r\r\n\r\r\n"},
      {"cpu get numberofcores", "NumberOfCores  \r\r\n4              \r\r\n4              \r\r\n\r\r\n"},
  };
  for (const auto& answer : answers) {
    if (commandLine.find(answer.first) != std::string::npos) return answer.second;
  }
  return "";
}

class AuditRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.computerName = std::optional<std::string>("WS-01");
    clock.ticks = 3 * 86400000ull + 4 * 3600000ull + 5 * 60000ull + 6789;
    processes.programFound = true;
    processes.script = ToolOutput;
  }

  int Run() {
    norva::ConsoleStream out;
    return norva::RunWithLastChance(out, [&] { norva::RunAudit(out); });
  }

  norva_test::FakeConsole console;
  norva_test::FakeMachine machine;
  SpanClock clock;
  norva_test::FakeProcesses processes;
  norva_test::FakeSystemFacts facts;
  ScopedReplacement<tov32::platform::Console> useConsole{console};
  ScopedReplacement<tov32::platform::Machine> useMachine{machine};
  ScopedReplacement<tov32::platform::Clock> useClock{clock};
  ScopedReplacement<tov32::platform::Processes> useProcesses{processes};
  ScopedReplacement<tov32::platform::SystemFacts> useFacts{facts};
};

const char* const kReport =
    "NORVA Audit v2021.1.7.857\r\n"
    "........\r\n"
    "Version: 2021.1.7.857\r\n"
    "Host Name: WS-01\r\n"
    "Machine Up Time: 0w3d4h5m6s\r\n"
    "OS Install Date: 20210107140509.000000+060\r\n"
    "OS Version: 10.0.19045\r\n"
    "Total Visible Memory Size: 16633492\r\n"
    "Number of Cores: 8\r\n"
    "Duration: 1,234ms\r\n";

TEST_F(AuditRunTest, PrintsTheTenLinesAndEndsWithZero) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(console.output, kReport);
  EXPECT_EQ(console.error, "");
  ASSERT_EQ(processes.started.size(), 4u);
  EXPECT_NE(processes.started[0].first.find("os get totalvisiblememorysize"), std::string::npos);
  EXPECT_NE(processes.started[3].first.find("cpu get numberofcores"), std::string::npos);
}

TEST_F(AuditRunTest, OnAConsoleEveryDotIsHandedOverByItself) {
  console.kind = StreamKind::kCharacter;
  EXPECT_EQ(Run(), 0);
  const std::vector<std::size_t> start(console.handOvers.begin(), console.handOvers.begin() + 9);
  EXPECT_EQ(start, (std::vector<std::size_t>{27, 1, 1, 1, 1, 1, 1, 1, 3}));
}

TEST_F(AuditRunTest, EmptyProbeValuesLeaveTheLabelsAndOneCore) {
  machine.computerName = std::optional<std::string>(std::nullopt);
  processes.script = [](const std::string&) { return std::string(); };
  EXPECT_EQ(Run(), 0);
  EXPECT_NE(console.output.find("Host Name: \r\nMachine Up Time: 0w3d4h5m6s\r\nOS Install Date: \r\n"
                                "OS Version: \r\nTotal Visible Memory Size: \r\nNumber of Cores: 1\r\n"),
            std::string::npos)
      << console.output;
}

TEST_F(AuditRunTest, UnopenableOutputStopsBeforeAnyProbe) {
  console.kind = StreamKind::kNone;
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(processes.started.empty());
  EXPECT_TRUE(std::regex_match(console.error,
                               std::regex("Exception EInOutError in module .+ at [0-9A-F]{8}\\.\r\nI/O error 105\\.\r\n\r\n")))
      << console.error;
}

TEST_F(AuditRunTest, FailedHandOverInTheReportStopsTheRun) {
  console.failAfterBytes = 0;
  console.failCode = 32;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(processes.started.size(), 4u);
  EXPECT_NE(console.error.find("\r\nI/O error 32.\r\n\r\n"), std::string::npos) << console.error;
}

TEST_F(AuditRunTest, FailedFinalHandOverIsReportedWithExitOne) {
  const std::size_t total = std::string(kReport).size();
  ASSERT_NE(total % norva::ConsoleStream::kBufferSize, 0u);
  console.failAfterBytes = total - total % norva::ConsoleStream::kBufferSize;
  console.failCode = 112;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(console.output, std::string(kReport).substr(0, *console.failAfterBytes));
  EXPECT_NE(console.error.find("\r\nI/O error 112.\r\n\r\n"), std::string::npos) << console.error;
}

TEST(CoreCountOfTest, SumsOnePackagePerLineAndOtherwiseReadsOneInteger) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"8", 8},   {"0", 0},          {"", 1},          {"4  \r\r\n4", 8}, {"4\r\n4\r\n4", 12},
      {"8 ", 1},  {"4\r\nx", 1},     {"1a", 1},        {"$10", 16},      {"4\r\n\r\n4", 1},
      {"2147483647\r\n1", 1}, {"-4\r\n4", 1}, {"4\r\n-4", 1}, {"-4", -4},
  };
  for (const auto& c : cases) EXPECT_EQ(norva::CoreCountOf(c.first), c.second) << c.first;
}

}  // namespace
