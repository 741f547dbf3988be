// The machine's up time from the system's tick counter.
#pragma once

#include <cstdint>
#include <string>

namespace tov32 {

struct tMachineUpTime {
  std::string UpTimeStr;       // such as "0w3d4h5m6s"
  std::int64_t TickCount = 0;  // milliseconds since the system started
  double UpTimeDays = 0;       // the same span in days, whole seconds only
};

// Reads the 64-bit tick counter and splits it into weeks (unbounded), days,
// hours, minutes and seconds; milliseconds are dropped. Guarded: never
// throws; the text is empty after a fault.
tMachineUpTime MachineUpTime();

}  // namespace tov32
