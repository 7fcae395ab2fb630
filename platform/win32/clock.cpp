// The Win32 clocks: GetTickCount, the performance counter, and the C runtime's _ftime64 and
// _localtime64 for the wall clock.
#include <windows.h>
#include <sys/timeb.h>
#include <time.h>

#include "platform/clock.h"

namespace dorvane::platform {
namespace {

class Win32Clock final : public Clock {
 public:
  std::uint32_t tickCount() override { return GetTickCount(); }
  void sleep(std::uint32_t milliseconds) override { Sleep(milliseconds); }

  std::int64_t counterValue() override {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
  }

  std::int64_t counterFrequency() override {
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceFrequency(&frequency)) return 0;
    return frequency.QuadPart;
  }

  WallTime wallTime() override {
    __timeb64 now{};
    _ftime64(&now);
    return WallTime{static_cast<std::int64_t>(now.time), static_cast<int>(now.millitm)};
  }

  CalendarTime localCalendar(std::int64_t secondsSinceEpoch) override {
    const __time64_t seconds = secondsSinceEpoch;
    // msvcrt keeps the result in per-thread storage, so this is safe from both driver threads.
    const tm* local = _localtime64(&seconds);
    if (local == nullptr) return CalendarTime{};
    return CalendarTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                        local->tm_min,         local->tm_sec,     local->tm_wday, local->tm_yday};
  }
};

}  // namespace

Clock& systemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace dorvane::platform
