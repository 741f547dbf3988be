#include "tov32/probes/host.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"
#include "tov32/faults/fault_records.h"
#include "tov32/platform/registry.h"

namespace {

using tov32::platform::ScopedReplacement;

const std::string kAppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

TEST(GetHostNameTest, GivesTheNameOrNothing) {
  norva_test::FakeMachine machine;
  ScopedReplacement<tov32::platform::Machine> use(machine);
  machine.computerName = std::optional<std::string>("WS-01");
  EXPECT_EQ(tov32::GetHostName(), "WS-01");
  machine.computerName = std::optional<std::string>(std::nullopt);
  EXPECT_EQ(tov32::GetHostName(), "");
}

class ProgramLocationTest : public ::testing::Test {
 protected:
  norva_test::FakeMachine machine;
  norva_test::FakeRegistry registry;
  ScopedReplacement<tov32::platform::Machine> useMachine{machine};
  ScopedReplacement<tov32::platform::Registry> useRegistry{registry};
};

TEST_F(ProgramLocationTest, EmptyNameGivesTheProgramsDirectory) {
#ifdef _WIN32
  machine.moduleFileName = "C:\\Audit\\prog.exe";
  EXPECT_EQ(tov32::GetEXEPath(""), "C:\\Audit\\");
  machine.moduleFileName = "\\\\?\\C:\\Audit\\prog.exe";
  EXPECT_EQ(tov32::GetEXEPath(""), "C:\\Audit\\");
  // A path past 260 bytes is kept whole: its cut would name an ancestor.
  machine.moduleFileName = "C:\\" + std::string(300, 'a') + "\\prog.exe";
  EXPECT_EQ(tov32::GetEXEPath(""), "C:\\" + std::string(300, 'a') + "\\");
#else
  machine.moduleFileName = "/opt/audit/prog";
  EXPECT_EQ(tov32::GetEXEPath(""), "/opt/audit/");
  machine.moduleFileName = "/" + std::string(300, 'a') + "/prog";
  EXPECT_EQ(tov32::GetEXEPath(""), "/" + std::string(300, 'a') + "/");
#endif
  machine.moduleFileName = "";
  EXPECT_EQ(tov32::GetEXEPath(""), "");
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
}

TEST_F(ProgramLocationTest, AppPathsPathValueIsJoinedAndMendedOnce) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Tools", "C:\\Tools\\tool.exe"},
      {"C:\\Tools\\", "C:\\Tools\\tool.exe"},
      {"C:\\Tools;", "C:\\Tools\\\\tool.exe"},
      {"C:\\A;C:\\B", "C:\\A\\C:\\B\\tool.exe"},
  };
  for (const auto& c : cases) {
    registry.keys.clear();
    registry.SetText(kAppPaths + "tool.exe", "Path", c.first);
    registry.SetText(kAppPaths + "tool.exe", "", "C:\\Elsewhere\\tool.exe");
    EXPECT_EQ(tov32::GetEXEPath("tool.exe"), c.second) << c.first;
  }
}

TEST_F(ProgramLocationTest, DefaultValueWithoutPathAndNoKeyAtAll) {
  norva_test::ReportRecorder recorder;
  registry.SetText(kAppPaths + "Tool.exe", "", "C:\\Tools\\tool.exe");
  EXPECT_EQ(tov32::GetEXEPath("Tool.exe"), "C:\\Tools\\tool.exe");
  EXPECT_EQ(registry.opened.back(), kAppPaths + "Tool.exe");  // not lower-cased
  EXPECT_EQ(tov32::GetEXEPath("absent.exe"), "");
  registry.keys[kAppPaths + "empty.exe"];
  EXPECT_EQ(tov32::GetEXEPath("empty.exe"), "");
  EXPECT_TRUE(recorder.records().empty());
}

TEST_F(ProgramLocationTest, NonTextValueIsOneFaultReport) {
  norva_test::ReportRecorder recorder;
  registry.keys[kAppPaths + "tool.exe"][""] = {tov32::platform::kRegDword, std::string("\x01\0\0\0", 4), true};
  EXPECT_EQ(tov32::GetEXEPath("tool.exe"), "");
  ASSERT_EQ(recorder.records().size(), 1u);
  EXPECT_EQ(recorder.records()[0].Function, "tov32.GetEXEPath");
  EXPECT_EQ(recorder.records()[0].ClassName, "ERegistryException");
  EXPECT_EQ(recorder.records()[0].Message, "Invalid data type for ''");
  EXPECT_EQ(recorder.records()[0].Trace, 100);

  registry.keys[kAppPaths + "tool.exe"]["Path"] = {tov32::platform::kRegSz, "C:\\x", false};
  EXPECT_EQ(tov32::GetEXEPath("tool.exe"), "");
  ASSERT_EQ(recorder.records().size(), 2u);
  EXPECT_EQ(recorder.records()[1].Message, "Failed to get data for 'Path'");

  // The bytes are read before the type is looked at.
  registry.keys[kAppPaths + "tool.exe"]["Path"] = {tov32::platform::kRegBinary, std::string("\x01\x02", 2), false};
  EXPECT_EQ(tov32::GetEXEPath("tool.exe"), "");
  ASSERT_EQ(recorder.records().size(), 3u);
  EXPECT_EQ(recorder.records()[2].Message, "Failed to get data for 'Path'");
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
}

TEST_F(ProgramLocationTest, SiblingToolIsLookedForAtItsFixedPathOnly) {
  norva_test::FakeFiles files;
  ScopedReplacement<tov32::platform::Files> useFiles(files);
  const std::string sibling = "C:\\Program Files (x86)\\Tessary\\Zarn\\Zarn.exe";
  std::vector<std::string> searched;
  bool present = true;
  files.search = [&](const std::string& pattern) {
    searched.push_back(pattern);
    return tov32::platform::SearchResult{present, false};
  };
  tov32::GlobalSettings.PathPrefix = "P:";
  EXPECT_EQ(tov32::GetEXEPath("Zarn.EXE"), sibling);
  present = false;
  EXPECT_EQ(tov32::GetEXEPath("zarn.exe"), "");
  tov32::GlobalSettings.PathPrefix.clear();
  EXPECT_EQ(searched, (std::vector<std::string>{"P:" + sibling, "P:" + sibling}));
  EXPECT_TRUE(registry.opened.empty());
}

TEST(FileExistsTest, SearchesWithThePrefixAndWildcards) {
  norva_test::TempDir dir;
  norva_test::WriteFile(dir.Path("a.xml"), "x");
  std::filesystem::create_directory(dir.root() / "sub");
  EXPECT_TRUE(tov32::FileExists(dir.Path("sub")));
  EXPECT_TRUE(tov32::FileExists(dir.Path("*.xml")));
  EXPECT_FALSE(tov32::FileExists(dir.Path("*.txt")));
  EXPECT_FALSE(tov32::FileExists(""));
  // A name that ends in a separator finds nothing, a folder's name included.
  for (const char* separator : {"/", "\\"}) {
#ifndef _WIN32
    if (*separator == '\\') continue;  // an ordinary byte of a POSIX name
#endif
    EXPECT_FALSE(tov32::FileExists(dir.Path("sub") + separator)) << separator;
    EXPECT_FALSE(tov32::FileExists(dir.Path("a.xml") + separator)) << separator;
  }
  tov32::GlobalSettings.PathPrefix = dir.Path("a");
  EXPECT_TRUE(tov32::FileExists(".xml"));
  tov32::GlobalSettings.PathPrefix.clear();
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
}

#ifndef _WIN32
// Only * and ? are wildcards, and they find dot-files too; [, ] and \ are
// ordinary bytes of a POSIX name.
TEST(FileExistsTest, OnlyStarAndQuestionMarkAreWildcards) {
  norva_test::TempDir dir;
  for (const char* name : {"log[1].txt", "back\\slash", ".hidden"}) norva_test::WriteFile(dir.Path(name), "x");
  const std::pair<const char*, bool> cases[] = {
      {"log[1].txt", true}, {"log1.txt", false}, {"log[1]*", true},   {"log?1?.txt", true},
      {"back\\slash", true}, {"backslash", false}, {"*hidden", true}, {".h?dden", true},
      {"log[2].txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(tov32::FileExists(dir.Path(c.first)), c.second) << c.first;
}
#endif

}  // namespace
