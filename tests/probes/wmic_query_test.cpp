#include "tov32/probes/wmic_query.h"

#include <gtest/gtest.h>

#include "tests/support/fakes.h"
#include "tov32/platform/machine.h"
#include "tov32/platform/process.h"
#include "tov32/text/formatting.h"

namespace {

using tov32::platform::ScopedReplacement;

class WmicQueryTest : public ::testing::Test {
 protected:
  void Script(const std::string& output) {
    processes.script = [output](const std::string&) { return output; };
  }
  void SetUp() override { processes.programFound = true; }
  norva_test::FakeProcesses processes;
  norva_test::FakeSystemFacts facts;
  ScopedReplacement<tov32::platform::Processes> useProcesses{processes};
  ScopedReplacement<tov32::platform::SystemFacts> useFacts{facts};
};

// A character outside ASCII: the ANSI code page keeps it, elsewhere it is "?".
#ifdef _WIN32
const std::string kAccented = "6.1\xE9";
#else
const std::string kAccented = "6.1?";
#endif

struct OutputCase {
  std::string output;
  std::string osValue;
  std::string cpuValue;
};

TEST_F(WmicQueryTest, CutsTheValueOutOfTheToolsOutput) {
  const OutputCase cases[] = {
      {"Version    \r\n  10.0.19045  \r\n\r\n", "10.0.19045", "10.0.19045"},
      {"Version    \r\r\n10.0.19045  \r\r\n\r\r\n", "10.0.19045", "10.0.19045"},
      {"NumberOfCores  \r\r\n4  \r\r\n8  \r\r\n\r\r\n", "4  \r\r\n8", "4  \r\r\n8"},
      {"no line end at all", "", ""},
      {"", "", ""},
      {"Node - HOST\r\nERROR:\r\nDescription = Invalid query\r\n", "ERROR:\r\nDescription = Invalid query",
       ""},
      {"Value\r\n5\r\nERROR\r\n", "5\r\nERROR", ""},
      {"Node - HOST\r\nerror:\r\nbad\r\n", "error:\r\nbad", "error:\r\nbad"},
      {std::string("\xFF\xFE" "V\0e\0r\0s\0i\0o\0n\0 \0 \0\r\0\n\0" "6\0.\0" "1\0\xE9\0 \0\r\0\n\0", 38), kAccented, kAccented},
  };
  for (const OutputCase& c : cases) {
    Script(c.output);
    EXPECT_EQ(tov32::GetWmicOSValue("version"), c.osValue) << c.output;
    EXPECT_EQ(tov32::GetWmicCPUValue("numberofcores"), c.cpuValue) << c.output;
  }
}

TEST_F(WmicQueryTest, RunsTheToolWhenPresentAndAsksTheSystemWhenAbsent) {
  struct PropertyCase {
    bool os;
    const char* property;
    const char* command;
    std::string direct;
  };
  const PropertyCase cases[] = {
      {true, "version", "wmic os get version", facts.version},
      {true, "installdate", "wmic os get installdate", facts.installDate},
      {true, "totalvisiblememorysize", "wmic os get totalvisiblememorysize", "16633492"},
      {false, "numberofcores", "wmic cpu get numberofcores", "4\r\n4"},
  };
  facts.cores = {4, 4};
  const std::string directory = norva_test::ProgramDirectory();
  for (const PropertyCase& c : cases) {
    auto query = [&] { return c.os ? tov32::GetWmicOSValue(c.property) : tov32::GetWmicCPUValue(c.property); };
    processes.programFound = true;
    processes.started.clear();
    Script("Header  \r\r\nfrom the tool  \r\r\n\r\r\n");
    EXPECT_EQ(query(), "from the tool");
    ASSERT_EQ(processes.started.size(), 1u);
    EXPECT_EQ(processes.started[0].first, std::string(tov32::platform::kShellPrefix) + c.command);
    EXPECT_EQ(processes.started[0].second, directory);

    processes.programFound = false;
    processes.started.clear();
    EXPECT_EQ(query(), c.direct) << c.property;
    EXPECT_TRUE(processes.started.empty());
  }
  processes.programFound = false;
  EXPECT_EQ(tov32::GetWmicOSValue("caption"), "");
  EXPECT_EQ(tov32::GetWmicCPUValue("name"), "");
  EXPECT_EQ(processes.lookedFor.back(), "wmic");
}

TEST_F(WmicQueryTest, PropertyIsAppendedUnchanged) {
  Script("");
  tov32::GetWmicOSValue("Total Visible");
  ASSERT_EQ(processes.started.size(), 1u);
  EXPECT_EQ(processes.started[0].first, std::string(tov32::platform::kShellPrefix) + "wmic os get Total Visible");
}

}  // namespace
