// POSIX clocks.
#include "tov32/platform/clock.h"

#include <time.h>

namespace tov32::platform {
namespace {

std::int64_t Milliseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

class PosixClock final : public Clock {
 public:
  CivilTime LocalTime() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return CivilTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
  }

  std::int64_t SteadyMilliseconds() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return Milliseconds(now);
  }

  // CLOCK_BOOTTIME keeps counting while the machine sleeps, as the Windows
  // tick counter does; CLOCK_MONOTONIC would not.
  std::uint64_t TickCount64() override {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(Milliseconds(now));
  }
};

}  // namespace

template <>
Clock& Native<Clock>() {
  static PosixClock clock;
  return clock;
}

void SleepMilliseconds(int milliseconds) {
  timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0) {
  }
}

}  // namespace tov32::platform
