// The POSIX clocks: CLOCK_MONOTONIC for the tick count and the counter, CLOCK_REALTIME and
// localtime_r for the wall clock.
#include <errno.h>
#include <time.h>

#include "platform/clock.h"

namespace dorvane::platform {
namespace {

class PosixClock final : public Clock {
 public:
  std::uint32_t tickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);  // wraps at 2^32 like GetTickCount
  }

  std::int64_t counterValue() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  }

  std::int64_t counterFrequency() override { return 1000000000; }

  void sleep(std::uint32_t milliseconds) override {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  WallTime wallTime() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return WallTime{static_cast<std::int64_t>(now.tv_sec), static_cast<int>(now.tv_nsec / 1000000)};
  }

  CalendarTime localCalendar(std::int64_t secondsSinceEpoch) override {
    const time_t seconds = static_cast<time_t>(secondsSinceEpoch);
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return CalendarTime{};
    return CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min,         local.tm_sec,     local.tm_wday, local.tm_yday};
  }
};

}  // namespace

Clock& systemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace dorvane::platform
