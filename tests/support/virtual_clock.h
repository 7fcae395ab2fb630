// A clock the test sets by hand. Local time is UTC here, so stamps do not depend on the machine.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace dorvane::testing {

class VirtualClock : public platform::Clock {
 public:
  std::uint32_t tickCount() override { return ticks; }
  std::int64_t counterValue() override { return counter; }
  std::int64_t counterFrequency() override { return frequency; }
  // Sleeping only moves the tick count on.
  void sleep(std::uint32_t milliseconds) override { ticks += milliseconds; }
  platform::WallTime wallTime() override { return wall; }
  platform::CalendarTime localCalendar(std::int64_t secondsSinceEpoch) override;

  // Sets the wall clock to a UTC calendar moment.
  void setWallTime(int year, int month, int day, int hour, int minute, int second);

  std::uint32_t ticks = 0;
  std::int64_t counter = 0;
  std::int64_t frequency = 1000000;
  platform::WallTime wall{};
};

}  // namespace dorvane::testing
