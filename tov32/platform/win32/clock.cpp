// Win32 clocks.
#include "tov32/platform/clock.h"

#include "tov32/platform/win32/windows_support.h"

namespace tov32::platform {
namespace {

class Win32Clock final : public Clock {
 public:
  CivilTime LocalTime() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return CivilTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  }

  std::int64_t SteadyMilliseconds() override {
    LARGE_INTEGER frequency{}, counter{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / (frequency.QuadPart / 1000);
  }

  std::uint64_t TickCount64() override { return GetTickCount64(); }
};

}  // namespace

template <>
Clock& Native<Clock>() {
  static Win32Clock clock;
  return clock;
}

void SleepMilliseconds(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace tov32::platform
