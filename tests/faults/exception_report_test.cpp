#include "tov32/faults/exception_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <stdexcept>

#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using norva_test::ProgramDirectory;
using norva_test::ReadFile;
using tov32::platform::ScopedReplacement;

class ExceptionReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    norva_test::RemoveReportFiles();
    clock.local = {2021, 1, 7, 14, 5, 9, 42};
    clock.ticks = 3 * 86400000ull + 4 * 3600000ull + 5 * 60000ull + 6789;
  }
  void TearDown() override {
    tov32::GlobalSettings.SelfName.clear();
    EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
    norva_test::RemoveReportFiles();
  }
  static tov32::tExceptionRec Record() {
    tov32::tExceptionRec rec;
    rec.Function = "tov32.Test";
    rec.ClassName = "EOutOfMemory";
    rec.Message = "a <b> & c\r\nsecond";
    rec.Trace = -7;
    return rec;
  }

  norva_test::FakeClock clock;
  norva_test::FakeMachine machine;
  ScopedReplacement<tov32::platform::Clock> useClock{clock};
  ScopedReplacement<tov32::platform::Machine> useMachine{machine};
};

TEST_F(ExceptionReportTest, WritesTheSixteenLinesUnderTheDefaultName) {
  const tov32::tExceptionRec rec = Record();
  const std::string path = tov32::SaveExceptionRecAsXML(rec);
  EXPECT_EQ(path, ProgramDirectory() + "EXCEPTION--20210107140509042.XML");
  EXPECT_EQ(ReadFile(path),
            "<xml>\r\n<Exception>\r\n<DateTime>2021-01-07 14:05:09.042</DateTime>\r\n"
            "<MachineUpTime>0w3d4h5m6s</MachineUpTime>\r\n<SelfName></SelfName>\r\n<Version></Version>\r\n"
            "<Function>tov32.Test</Function>\r\n<CallingFunction></CallingFunction>\r\n<Trace>-7</Trace>\r\n"
            "<HostName></HostName>\r\n<ClassName>EOutOfMemory</ClassName>\r\n"
            "<e.Message>a &lt;b&gt; &amp; c\r\nsecond</e.Message>\r\n<SQL></SQL>\r\n<Notes></Notes>\r\n"
            "</Exception>\r\n</xml>\r\n");
  EXPECT_EQ(rec.Message, "a <b> & c\r\nsecond");
  EXPECT_TRUE(machine.tones.empty());
}

// The clock stands still: the second report takes the next millisecond's
// name instead of replacing the first.
TEST_F(ExceptionReportTest, TwoReportsOfOneMillisecondKeepBoth) {
  const std::string first = tov32::SaveExceptionRecAsXML(Record());
  const std::string second = tov32::SaveExceptionRecAsXML(Record());
  EXPECT_EQ(first, ProgramDirectory() + "EXCEPTION--20210107140509042.XML");
  EXPECT_EQ(second, ProgramDirectory() + "EXCEPTION--20210107140509043.XML");
  EXPECT_EQ(norva_test::ReportFiles().size(), 2u);
  EXPECT_NE(ReadFile(first).find("<DateTime>2021-01-07 14:05:09.042</DateTime>"), std::string::npos);
}

// Another process's report appears under the same name after any look at
// the folder and before this one is created: the name is claimed by the
// creation itself, so neither report replaces the other.
TEST_F(ExceptionReportTest, ANameClaimedByAnotherProcessIsNeverReplaced) {
  norva_test::FakeFiles files;
  files.entry = [](const std::string&) { return tov32::platform::SearchResult{}; };
  ScopedReplacement<tov32::platform::Files> use(files);
  const std::string taken = ProgramDirectory() + "EXCEPTION--20210107140509042.XML";
  norva_test::WriteFile(taken, "the other process's report");
  EXPECT_EQ(tov32::SaveExceptionRecAsXML(Record()), ProgramDirectory() + "EXCEPTION--20210107140509043.XML");
  EXPECT_EQ(ReadFile(taken), "the other process's report");
  EXPECT_EQ(norva_test::ReportFiles().size(), 2u);
}

// A name without a time stamp cannot move on: its file is replaced.
TEST_F(ExceptionReportTest, AFixedNameIsReplaced) {
  tov32::tExceptionRec rec = Record();
  rec.FileName = "EXCEPTION-fixed.XML";
  norva_test::WriteFile(ProgramDirectory() + rec.FileName, "old");
  EXPECT_EQ(tov32::SaveExceptionRecAsXML(rec), ProgramDirectory() + rec.FileName);
  EXPECT_EQ(ReadFile(ProgramDirectory() + rec.FileName).rfind("<xml>\r\n", 0), 0u);
}

TEST_F(ExceptionReportTest, DefaultNameWithTheRealClockHasSeventeenDigits) {
  ScopedReplacement<tov32::platform::Clock> realClock(tov32::platform::Native<tov32::platform::Clock>());
  const std::string path = tov32::SaveExceptionRecAsXML(Record());
  const std::string name = std::filesystem::path(path).filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(EXCEPTION--\d{17}\.XML)"))) << name;
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(ExceptionReportTest, NamePatternsReplaceEachMarkerOnce) {
  tov32::GlobalSettings.SelfName = "Norva";
  const std::pair<const char*, const char*> cases[] = {
      {"{selfname}-{timestamp}.log", "Norva-20210107140509042.log"},
      {"{timestamp}-{timestamp}.log", "20210107140509042-{timestamp}.log"},
      {"{TIMESTAMP}-{SELFNAME}.log", "{TIMESTAMP}-{SELFNAME}.log"},
  };
  for (const auto& c : cases) {
    tov32::tExceptionRec rec = Record();
    rec.FileName = c.first;
    EXPECT_EQ(tov32::SaveExceptionRecAsXML(rec), ProgramDirectory() + c.second);
    EXPECT_TRUE(std::filesystem::exists(ProgramDirectory() + c.second));
    std::filesystem::remove(ProgramDirectory() + c.second);
  }
  tov32::GlobalSettings.SelfName = "Norva";
  tov32::tExceptionRec rec = Record();
  rec.FileName.clear();
  EXPECT_EQ(tov32::SaveExceptionRecAsXML(rec), ProgramDirectory() + "EXCEPTION-Norva-20210107140509042.XML");
}

TEST_F(ExceptionReportTest, UnwritableReportIsLostButPathAndTonesRemain) {
  tov32::tExceptionRec rec = Record();
  rec.FileName = "no-such-folder/{timestamp}.xml";
  rec.bBeep = true;
  const std::string path = tov32::SaveExceptionRecAsXML(rec);
  EXPECT_EQ(path, ProgramDirectory() + "no-such-folder/20210107140509042.xml");
  EXPECT_FALSE(std::filesystem::exists(path));
  using Tone = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(machine.tones, (std::vector<Tone>{{200, 50}, {400, 50}, {800, 50}, {1600, 50}}));
}

// A fault that comes back at every attempt, here in the clock the writer
// reads for its DateTime line.
class BrokenClock : public norva_test::FakeClock {
 public:
  tov32::platform::CivilTime LocalTime() override { throw std::runtime_error("clock gone"); }
};

TEST_F(ExceptionReportTest, RepeatingFaultEndsAfterTheNestingBound) {
  BrokenClock broken;
  ScopedReplacement<tov32::platform::Clock> use(broken);
  norva_test::ReportRecorder recorder;
  EXPECT_EQ(tov32::SaveExceptionRecAsXML(Record()), "");
  ASSERT_EQ(recorder.records().size(), static_cast<std::size_t>(tov32::kMaxReportNesting));
  const tov32::tExceptionRec& inner = recorder.records()[1];
  EXPECT_EQ(inner.Function, "tov32.SaveExceptionRecAsXML");
  EXPECT_EQ(inner.ClassName, "runtime_error");
  EXPECT_EQ(inner.Message, "clock gone");
  EXPECT_EQ(inner.Trace, 300);
  EXPECT_TRUE(norva_test::ReportFiles().empty());
}

class BrokenModulePath : public norva_test::FakeMachine {
 public:
  std::string ModuleFileName() override { throw std::runtime_error("no module"); }
};

// Without a program directory the report lands in the current directory:
// a folder of the test's own.
TEST_F(ExceptionReportTest, RepeatingFaultInACalledRoutineEndsToo) {
  norva_test::TempCurrentDir current;
  BrokenModulePath brokenMachine;
  ScopedReplacement<tov32::platform::Machine> use(brokenMachine);
  norva_test::ReportRecorder recorder;
  const std::string outermost = tov32::SaveExceptionRecAsXML(Record());
  ASSERT_EQ(recorder.records().size(), static_cast<std::size_t>(tov32::kMaxReportNesting));
  EXPECT_EQ(recorder.records()[1].Function, "tov32.GetEXEPath");
  EXPECT_EQ(recorder.records()[1].Trace, 100);
  // The innermost report is written first; each keeps a name of its own.
  for (const char* name : {"EXCEPTION--20210107140509042.XML", "EXCEPTION--20210107140509043.XML",
                           "EXCEPTION--20210107140509044.XML"}) {
    EXPECT_TRUE(std::filesystem::exists(current.dir().root() / name)) << name;
  }
  EXPECT_EQ(outermost, "EXCEPTION--20210107140509044.XML");
}

}  // namespace
