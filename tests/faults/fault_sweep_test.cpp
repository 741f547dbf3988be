// Every guarded routine under injected allocation faults: the 1st, 2nd, 3rd
// ... allocation of a call fails in turn until a call completes unharmed.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "tests/support/alloc_fault.h"
#include "tests/support/child.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"
#include "tov32/faults/exception_report.h"
#include "tov32/faults/syslog.h"
#include "tov32/faults/text_file.h"
#include "tov32/probes/dos_output.h"
#include "tov32/probes/host.h"
#include "tov32/probes/up_time.h"
#include "tov32/text/between.h"

namespace {

using tov32::platform::ScopedReplacement;

const std::string kLong = "a text long enough to live on the heap, not in the string";

struct Sweep {
  // Calls the routine once, with arguments made beforehand; true when its result is what it gives after a fault.
  std::function<bool()> call;
  // The Function and Trace values that a report of the fault may carry.
  std::set<std::pair<std::string, int>> reports;
  // Whether a fault may also pass without any report.
  bool silentAllowed = false;
  // Makes the call's arguments before the fault is armed.
  std::function<void()> prepare = [] {};
};

std::string Element(const std::string& report, const std::string& name) {
  const std::string open = "<" + name + ">";
  const std::size_t start = report.find(open);
  if (start == std::string::npos) return "?";
  const std::size_t end = report.find("</" + name + ">", start);
  return report.substr(start + open.size(), end - start - open.size());
}

bool ReportFileShows(const std::string& function, int trace) {
  for (const std::string& path : norva_test::ReportFiles()) {
    const std::string report = norva_test::ReadFile(path);
    if (Element(report, "Function") == function && Element(report, "Trace") == std::to_string(trace)) return true;
  }
  return false;
}

// Runs the sweep; returns the (Function, Trace) pairs that were reported.
std::set<std::pair<std::string, int>> RunSweep(const Sweep& sweep, const std::string& ownRecordFunction = "") {
  std::set<std::pair<std::string, int>> seen;
  for (long nth = 1; nth < 400; ++nth) {
    norva_test::RemoveReportFiles();
    const int handles = tov32::platform::OpenHandleCount();
    const std::int32_t nesting = tov32::GlobalSettings.NestingCount;
    norva_test::ReportRecorder recorder;
    bool faultResult = false;
    sweep.prepare();
    {
      norva_test::AllocationFault fault(nth);
      EXPECT_NO_THROW(faultResult = sweep.call()) << "allocation " << nth;
      if (!norva_test::AllocationFailed()) return seen;
    }
    EXPECT_EQ(tov32::GlobalSettings.NestingCount, nesting) << "allocation " << nth;
    EXPECT_EQ(tov32::platform::OpenHandleCount(), handles) << "allocation " << nth;
    const tov32::tExceptionRec* report = nullptr;
    for (const tov32::tExceptionRec& rec : recorder.records()) {
      if (rec.Function != ownRecordFunction) {
        report = &rec;
        break;
      }
    }
    EXPECT_TRUE(faultResult) << "wrong result after allocation " << nth;
    if (report == nullptr) {
      EXPECT_TRUE(sweep.silentAllowed) << "no report for allocation " << nth;
      continue;
    }
    const std::pair<std::string, int> shown{report->Function, report->Trace};
    EXPECT_EQ(sweep.reports.count(shown), 1u) << shown.first << " " << shown.second << " at allocation " << nth;
    EXPECT_TRUE(ReportFileShows(shown.first, shown.second)) << shown.first << " " << shown.second;
    seen.insert(shown);
  }
  ADD_FAILURE() << "the routine never completed without a fault";
  return seen;
}

// Memory stays exhausted from the 1st, 2nd, 3rd ... allocation of a call on:
// no fault leaves the routine, and it gives back what it holds.
void RunExhaustionSweep(const std::function<void()>& call, const std::function<void()>& prepare = [] {}) {
  for (long nth = 1; nth < 400; ++nth) {
    const int handles = tov32::platform::OpenHandleCount();
    const std::int32_t nesting = tov32::GlobalSettings.NestingCount;
    prepare();
    {
      norva_test::AllocationFault fault(nth, true);
      EXPECT_NO_THROW(call()) << "allocations from " << nth;
      if (!norva_test::AllocationFailed()) return;
    }
    EXPECT_EQ(tov32::GlobalSettings.NestingCount, nesting) << "allocations from " << nth;
    EXPECT_EQ(tov32::platform::OpenHandleCount(), handles) << "allocations from " << nth;
    norva_test::RemoveReportFiles();
  }
  ADD_FAILURE() << "the routine never completed without a fault";
}

class FaultSweepTest : public ::testing::Test {
 protected:
  void TearDown() override { norva_test::RemoveReportFiles(); }
};

TEST_F(FaultSweepTest, SmallRoutinesReportAndReturnTheirFaultResult) {
  norva_test::FakeMachine machine;
  machine.computerName = std::optional<std::string>(kLong);
  machine.moduleFileName = norva_test::ProgramDirectory() + kLong;
  ScopedReplacement<tov32::platform::Machine> useMachine(machine);
  norva_test::FakeClock clock;
  clock.ticks = 1000000000000000ull;
  ScopedReplacement<tov32::platform::Clock> useClock(clock);

  RunSweep({[] { return !tov32::FileExists(kLong); }, {{"tov32.FileExists", 100}}});
  RunSweep({[] { return tov32::GetEXEPath("").empty(); }, {{"tov32.GetEXEPath", 100}}});
  RunSweep({[] { return tov32::GetHostName().empty(); }, {{"tov32.GetHostName", 0}}});
  RunSweep({[] { return tov32::MachineUpTime().UpTimeStr.empty(); }, {{"tov32.MachineUpTime", 0}}});
  RunSweep({[] { return tov32::Between(kLong, "", "").empty(); }, {{"tov32.Between", 0}}});
  RunSweep({[] { return tov32::BooleanTStr(true, kLong, kLong) == "Exception"; }, {{"tov32.BooleanTStr", 0}}});
}

TEST_F(FaultSweepTest, CaptureReportsTheCommandLineAndTheReading) {
  const std::string command = norva_test::ChildCommand("bytes", "2000");
  const std::string directory = norva_test::ProgramDirectory();
  const auto seen = RunSweep({[&] { return tov32::GetDosOutput(command, directory).size() < 2000; },
                              {{"tov32.GetDosOutput", 200},
                               {"tov32.GetDosOutput", 500},
                               {"tov32.GetDosOutput", 600},
                               {"tov32.GetDosOutput", 1110}}});
  EXPECT_EQ(seen.count({"tov32.GetDosOutput", 600}), 1u);
  EXPECT_EQ(seen.count({"tov32.GetDosOutput", 1110}), 1u);
}

TEST_F(FaultSweepTest, SyslogReportsBuildingFaultsAndDropsSendingFaults) {
  // Not 127.0.0.1, where the syslog tests listen.
  tov32::tSyslogRec request;
  RunSweep({[&] { return !tov32::PostSyslogMsg(std::move(request)); },
            {{"tov32.PostSyslogMsg", 100}, {"tov32.PostSyslogMsg", 200}},
            true,
            [&] {
              request.Host = "127.0.0.2";
              request.Msg = kLong;
            }});
}

TEST_F(FaultSweepTest, ReportWriterReportsItsOwnFaultsAndThoseOfItsCallees) {
  norva_test::FakeMachine machine;
  machine.moduleFileName = norva_test::ProgramDirectory() + "t.exe";
  ScopedReplacement<tov32::platform::Machine> useMachine(machine);
  tov32::tExceptionRec rec;
  std::set<std::pair<std::string, int>> allowed = {{"tov32.PostSyslogMsg", 100}, {"tov32.PostSyslogMsg", 200},
                                                   {"tov32.MachineUpTime", 0},    {"tov32.GetEXEPath", 100}};
  for (int trace : {100, 200, 230, 300, 305, 310, 315, 320, 325, 330, 335, 340, 360, 380, 420, 460}) {
    allowed.insert({"tov32.SaveExceptionRecAsXML", trace});
  }
  RunSweep({[&] {
              tov32::SaveExceptionRecAsXML(std::move(rec));
              return true;
            },
            allowed, true,
            [&] {
              rec.Function = "tov32.Sweep";
              rec.Message = kLong;
            }},
           "tov32.Sweep");
}

TEST_F(FaultSweepTest, TextFileWriterTurnsFaultsIntoMinusFiveWithoutReport) {
  norva_test::TempDir dir;
  const std::string path = dir.Path("out.txt");
  RunSweep({[&] { return tov32::WriteTextFile(kLong, path, false, "") == -5; }, {}, true});
}

TEST_F(FaultSweepTest, NoRoutineLetsAFaultOutWhenMemoryStaysExhausted) {
  norva_test::FakeMachine machine;
  machine.moduleFileName = norva_test::ProgramDirectory() + "t.exe";
  ScopedReplacement<tov32::platform::Machine> useMachine(machine);
  norva_test::TempDir dir;
  const std::string path = dir.Path("out.txt");
  const std::string command = norva_test::ChildCommand("bytes", "2000");
  const std::string directory = norva_test::ProgramDirectory();
  RunExhaustionSweep([] { tov32::FileExists(kLong); });
  RunExhaustionSweep([] { tov32::GetEXEPath(""); });
  RunExhaustionSweep([] { tov32::GetHostName(); });
  RunExhaustionSweep([] { tov32::MachineUpTime(); });
  RunExhaustionSweep([] { tov32::Between(kLong, "", ""); });
  RunExhaustionSweep([] { tov32::BooleanTStr(true, kLong, kLong); });
  RunExhaustionSweep([&] { tov32::GetDosOutput(command, directory); });
  RunExhaustionSweep([&] { tov32::WriteTextFile(kLong, path, false, ""); });
  tov32::tSyslogRec request;
  RunExhaustionSweep([&] { tov32::PostSyslogMsg(std::move(request)); },
                     [&] {
                       request.Host = "127.0.0.2";
                       request.Msg = kLong;
                     });
  tov32::tExceptionRec rec;
  RunExhaustionSweep([&] { tov32::SaveExceptionRecAsXML(std::move(rec)); },
                     [&] {
                       rec.Function = "tov32.Sweep";
                       rec.Message = kLong;
                     });
}

}  // namespace
