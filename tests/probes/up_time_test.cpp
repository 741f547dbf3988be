#include "tov32/probes/up_time.h"

#include <gtest/gtest.h>

#include "tests/support/alloc_fault.h"
#include "tests/support/fakes.h"

namespace {

struct TickCase {
  std::uint64_t ticks;
  const char* text;
  double days;
};

TEST(MachineUpTimeTest, SplitsTheTickCounter) {
  const TickCase cases[] = {
      {0, "0w0d0h0m0s", 0},
      {999, "0w0d0h0m0s", 0},
      {1000, "0w0d0h0m1s", 1.0 / 86400},
      {3 * 86400000ull + 4 * 3600000ull + 5 * 60000ull + 6789, "0w3d4h5m6s",
       3 + 4.0 / 24 + 5.0 / 1440 + 6.0 / 86400},
      {604799999, "0w6d23h59m59s", 6 + 23.0 / 24 + 59.0 / 1440 + 59.0 / 86400},
      {604800000, "1w0d0h0m0s", 7},
      {2147483648ull, "3w3d20h31m23s", 24 + 20.0 / 24 + 31.0 / 1440 + 23.0 / 86400},
      {4294967295ull, "7w0d17h2m47s", 49 + 17.0 / 24 + 2.0 / 1440 + 47.0 / 86400},
      {4294967296ull, "7w0d17h2m47s", 49 + 17.0 / 24 + 2.0 / 1440 + 47.0 / 86400},
      {100 * 604800000ull, "100w0d0h0m0s", 700},
  };
  norva_test::FakeClock clock;
  tov32::platform::ScopedReplacement<tov32::platform::Clock> use(clock);
  for (const TickCase& c : cases) {
    clock.ticks = c.ticks;
    const tov32::tMachineUpTime upTime = tov32::MachineUpTime();
    EXPECT_EQ(upTime.UpTimeStr, c.text) << c.ticks;
    EXPECT_EQ(upTime.TickCount, static_cast<std::int64_t>(c.ticks));
    EXPECT_NEAR(upTime.UpTimeDays, c.days, 1e-9) << c.ticks;
  }
  clock.ticks = 4294967295ull;
  EXPECT_NEAR(tov32::MachineUpTime().UpTimeDays, 49.710266, 1e-6);
}

TEST(MachineUpTimeTest, FaultLeavesTheTextEmptyAndIsReported) {
  norva_test::FakeClock clock;
  clock.ticks = 1000000000000000ull;  // a text too long for the string's own buffer
  tov32::platform::ScopedReplacement<tov32::platform::Clock> use(clock);
  norva_test::ReportRecorder recorder;
  tov32::tMachineUpTime upTime;
  {
    norva_test::AllocationFault fault(1);
    upTime = tov32::MachineUpTime();
  }
  EXPECT_EQ(upTime.UpTimeStr, "");
  ASSERT_FALSE(recorder.records().empty());
  EXPECT_EQ(recorder.records().front().Function, "tov32.MachineUpTime");
  EXPECT_EQ(recorder.records().front().Trace, 0);
}

}  // namespace
