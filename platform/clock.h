// The time sources of the driver: the millisecond tick count that measures link time-outs, the
// high-resolution counter of the acquisition stopwatch, the wall clock and its local-time conversion.
#pragma once

#include <cstdint>

namespace dorvane::platform {

// Seconds and milliseconds since 1970-01-01 00:00:00 UTC.
struct WallTime {
  std::int64_t seconds = 0;
  int milliseconds = 0;
};

// A moment broken down in local time, as the C runtime's localtime gives it.
struct CalendarTime {
  int year = 1970;   // e.g. 2026
  int month = 1;     // 1 to 12
  int day = 1;       // 1 to 31
  int hour = 0;      // 0 to 23
  int minute = 0;
  int second = 0;
  int weekday = 4;   // 0 Sunday to 6 Saturday
  int yearDay = 0;   // 0 to 365
};

// Every wait and every stamp reads time through this interface, so tests can run the driver on a
// virtual clock.
class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since some fixed start, wrapping around at 2^32 like GetTickCount.
  virtual std::uint32_t tickCount() = 0;

  // The high-resolution counter and its ticks per second (0 when the machine has none).
  virtual std::int64_t counterValue() = 0;
  virtual std::int64_t counterFrequency() = 0;

  // Blocks the calling thread for about `milliseconds`.
  virtual void sleep(std::uint32_t milliseconds) = 0;

  virtual WallTime wallTime() = 0;
  virtual CalendarTime localCalendar(std::int64_t secondsSinceEpoch) = 0;
};

// The operating system's clocks.
Clock& systemClock();

// A time limit measured on a clock's tick count; the unsigned difference keeps it right across the
// count's 32-bit wrap.
class Deadline {
 public:
  Deadline(Clock& clock, std::uint32_t limitMs) : clock_(clock), start_(clock.tickCount()), limitMs_(limitMs) {}

  bool passed() const { return elapsed() >= limitMs_; }
  std::uint32_t left() const { return passed() ? 0 : limitMs_ - elapsed(); }
  // Measures the limit again from now.
  void restart() { start_ = clock_.tickCount(); }

 private:
  std::uint32_t elapsed() const { return clock_.tickCount() - start_; }

  Clock& clock_;
  std::uint32_t start_;
  std::uint32_t limitMs_;
};

}  // namespace dorvane::platform
