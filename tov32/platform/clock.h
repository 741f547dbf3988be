// Clocks of the platform: local wall-clock time, a steady millisecond clock
// for spans and deadlines, and the system's tick counter.
#pragma once

#include <cstdint>

#include "tov32/platform/seam.h"

namespace tov32::platform {

struct CivilTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // The local wall-clock time, to the millisecond.
  virtual CivilTime LocalTime() = 0;
  // Milliseconds on a clock that never goes back; its origin is arbitrary.
  virtual std::int64_t SteadyMilliseconds() = 0;
  // Milliseconds since the system started, 64 bits wide (never wraps).
  virtual std::uint64_t TickCount64() = 0;
};

template <>
Clock& Native<Clock>();

// Suspends the calling thread for at least `milliseconds`.
void SleepMilliseconds(int milliseconds);

}  // namespace tov32::platform
