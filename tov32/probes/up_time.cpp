// The machine's up time.
#include "tov32/probes/up_time.h"

#include <limits>

#include "tov32/faults/fault_records.h"
#include "tov32/platform/clock.h"
#include "tov32/text/formatting.h"

namespace tov32 {
namespace {

constexpr std::uint64_t kWeek = 604800000, kDay = 86400000, kHour = 3600000, kMinute = 60000, kSecond = 1000;

}  // namespace

tMachineUpTime MachineUpTime() {
  tMachineUpTime upTime;
  tLogRec log;
  Guarded("tov32.MachineUpTime", log, [&] {
    const std::uint64_t ticks = platform::Use<platform::Clock>().TickCount64();
    const std::uint64_t weeks = ticks / kWeek;
    const auto days = static_cast<std::int32_t>(ticks % kWeek / kDay);
    const auto hours = static_cast<std::int32_t>(ticks % kDay / kHour);
    const auto minutes = static_cast<std::int32_t>(ticks % kHour / kMinute);
    const auto seconds = static_cast<std::int32_t>(ticks % kMinute / kSecond);
    upTime.TickCount = static_cast<std::int64_t>(
        ticks > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ? 0 : ticks);
    upTime.UpTimeDays = static_cast<double>(static_cast<long double>(weeks * 7 + static_cast<std::uint64_t>(days)) +
                                            static_cast<long double>(hours) / 24 +
                                            static_cast<long double>(minutes) / 1440 +
                                            static_cast<long double>(seconds) / 86400);
    upTime.UpTimeStr = std::to_string(weeks) + "w" + IntToText(days) + "d" + IntToText(hours) + "h" +
                       IntToText(minutes) + "m" + IntToText(seconds) + "s";
  });
  return upTime;
}

}  // namespace tov32
