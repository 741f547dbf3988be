#include "tov32/faults/fault_records.h"

#include <gtest/gtest.h>

#include <ios>

#include <cerrno>
#include <stdexcept>

#include "tests/support/alloc_fault.h"
#include "tests/support/fakes.h"
#include "tov32/faults/exception_report.h"
#include "tov32/probes/host.h"
#include "tov32/text/between.h"

namespace {

using tov32::platform::ScopedReplacement;

const std::string kLong = "a text long enough to live on the heap";

template <class Base>
struct Wrapped : Base {
  using Base::Base;
};

TEST(ClassNameOfTest, NamesTheMostDerivedClass) {
  EXPECT_EQ(tov32::ClassNameOf(tov32::EInOutError(105)), "EInOutError");
  EXPECT_EQ(tov32::ClassNameOf(tov32::ERegistryException("x")), "ERegistryException");
  EXPECT_EQ(tov32::ClassNameOf(std::bad_alloc()), "EOutOfMemory");
  EXPECT_EQ(tov32::ClassNameOf(std::runtime_error("x")), "runtime_error");
  EXPECT_EQ(tov32::ClassNameOf(std::ios_base::failure("x")), "failure");  // no "[abi:cxx11]"
  EXPECT_EQ(tov32::ClassNameOf(Wrapped<std::ios_base::failure>("x")), "Wrapped<std::ios_base::failure>");
  EXPECT_EQ(tov32::ClassNameOf(Wrapped<std::runtime_error>("x")), "Wrapped<std::runtime_error>");
  EXPECT_EQ(tov32::MessageOf(std::bad_alloc()), "Out of memory");
}

// Windows codes on Windows; on POSIX errno values, of which only those
// whose meaning is exactly a known message's get it.
TEST(EInOutErrorTest, MessageFollowsTheErrorCode) {
  const std::pair<int, const char*> cases[] = {
#ifdef _WIN32
      {2, "File not found"},         {3, "Invalid filename"},  {4, "Too many open files"},
      {5, "File access denied"},     {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"}, {105, "I/O error 105"},   {232, "I/O error 232"},
#else
      {ENOENT, "File not found"}, {EMFILE, "Too many open files"}, {EACCES, "File access denied"},
      {ENOSPC, "Disk full"},      {EIO, "I/O error 5"},            {ESRCH, "I/O error 3"},
      {EINTR, "I/O error 4"}, {EPIPE, "I/O error 32"},       {101, "I/O error 101"},
#endif
  };
  for (const auto& c : cases) {
    const tov32::EInOutError fault(c.first);
    EXPECT_STREQ(fault.what(), c.second);
    EXPECT_EQ(fault.ErrorCode(), c.first);
  }
}

TEST(GuardedFrameTest, ReportsTheRoutineClassAndCheckpoint) {
  norva_test::ReportRecorder recorder;
  {
    norva_test::AllocationFault fault(1);
    EXPECT_FALSE(tov32::FileExists(kLong));
  }
  ASSERT_FALSE(recorder.records().empty());
  const tov32::tExceptionRec& report = recorder.records().front();
  EXPECT_EQ(report.Function, "tov32.FileExists");
  EXPECT_EQ(report.ClassName, "EOutOfMemory");
  EXPECT_EQ(report.Message, "Out of memory");
  EXPECT_EQ(report.Trace, 100);
  EXPECT_TRUE(report.bBeep);
  EXPECT_EQ(report.Notes, "");
  EXPECT_EQ(report.SQL, "");
  EXPECT_EQ(report.CallingFunction, "");
  EXPECT_EQ(report.FileName, "");
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
}

TEST(GuardedFrameTest, RoutineWithoutCheckpointsReportsTraceZero) {
  norva_test::FakeMachine machine;
  machine.computerName = std::optional<std::string>(kLong);
  ScopedReplacement<tov32::platform::Machine> use(machine);
  norva_test::ReportRecorder recorder;
  std::string name = "unchanged";
  {
    norva_test::AllocationFault fault(1);
    name = tov32::GetHostName();
  }
  EXPECT_EQ(name, "");
  ASSERT_FALSE(recorder.records().empty());
  EXPECT_EQ(recorder.records().front().Function, "tov32.GetHostName");
  EXPECT_EQ(recorder.records().front().Trace, 0);
}

TEST(GuardedFrameTest, CarriesTheConfiguredReportPattern) {
  tov32::GlobalSettings.ExceptionFileName = "{selfname}-{timestamp}.xml";
  norva_test::ReportRecorder recorder;
  {
    norva_test::AllocationFault fault(1);
    tov32::Between(kLong, "", "");
  }
  tov32::GlobalSettings.ExceptionFileName.clear();
  ASSERT_FALSE(recorder.records().empty());
  EXPECT_EQ(recorder.records().front().Function, "tov32.Between");
  EXPECT_EQ(recorder.records().front().FileName, "{selfname}-{timestamp}.xml");
}

class ThrowingFiles : public norva_test::FakeFiles {
 public:
  tov32::platform::SearchResult Search(const std::string&) override { throw 42; }
};

class FailingFiles : public norva_test::FakeFiles {
 public:
  tov32::platform::SearchResult Search(const std::string&) override { throw std::runtime_error("search failed"); }
};

std::int32_t gNestingSeenByTheWriter = -1;

// A counting routine is still counted while the report of its fault is written.
TEST(GuardedFrameTest, CountingRoutineIsCountedWhileItsFaultIsReported) {
  FailingFiles files;
  ScopedReplacement<tov32::platform::Files> use(files);
  tov32::SetReportObserver([](const tov32::tExceptionRec&) { gNestingSeenByTheWriter = tov32::GlobalSettings.NestingCount; });
  EXPECT_FALSE(tov32::FileExists("x"));
  tov32::SetReportObserver(nullptr);
  EXPECT_EQ(gNestingSeenByTheWriter, 1);
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, 0);
  norva_test::RemoveReportFiles();
}

TEST(GuardedFrameTest, ForeignThrowPassesThroughWithoutReport) {
  ThrowingFiles files;
  ScopedReplacement<tov32::platform::Files> use(files);
  norva_test::ReportRecorder recorder;
  const std::int32_t before = tov32::GlobalSettings.NestingCount;
  EXPECT_THROW(tov32::FileExists("x"), int);
  EXPECT_EQ(tov32::GlobalSettings.NestingCount, before);
  EXPECT_TRUE(recorder.records().empty());
}

TEST(BooleanTStrFaultTest, GivesExceptionAfterAFault) {
  norva_test::ReportRecorder recorder;
  std::string result;
  {
    norva_test::AllocationFault fault(1);
    result = tov32::BooleanTStr(true, kLong, kLong);
  }
  EXPECT_EQ(result, "Exception");
  ASSERT_FALSE(recorder.records().empty());
  EXPECT_EQ(recorder.records().front().Function, "tov32.BooleanTStr");
}

}  // namespace
