// The acquisition's time stamps: the wall clock read once, plus the high-resolution counter's
// elapsed time, in milliseconds since 1970-01-01 00:00:00 UTC.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/clock.h"

namespace dorvane::runtime {

// The calendar time in milliseconds since the epoch: whole seconds x 1000 plus the millisecond part.
double wallClockMs(platform::Clock& clock);

// A stopwatch on the high-resolution counter. `ticks` holds the start reading while running and
// minus the elapsed ticks while stopped. The clock builds it on the host's thread and afterwards
// only the acquisition thread reads it, so it needs no lock.
class PerformanceStopwatch {
 public:
  explicit PerformanceStopwatch(platform::Clock& clock) : clock_(clock) {}

  void start();
  void stop();
  // Elapsed ticks less the calibrated cost of a start and a stop, never below 0.
  std::int64_t elapsedTicks() const;
  double elapsedMs() const;

  std::int64_t ticks = 0;

  // Set once per process by the first TimestampClock and kept: counter ticks per second (1 on a
  // machine whose counter reports none), and the cost of one start and stop, negated.
  static inline std::atomic<std::int64_t> counterFrequency{0};
  static inline std::atomic<std::int64_t> stopOverhead{0};

 private:
  platform::Clock& clock_;
};

class TimestampClock {
 public:
  explicit TimestampClock(platform::Clock& clock);

  // Milliseconds since the epoch, with sub-millisecond resolution when the stopwatch exists.
  double nowMs() const;

  // Null when the machine has no usable high-resolution counter.
  const PerformanceStopwatch* stopwatch() const { return stopwatch_.get(); }
  double baseMs() const { return baseMs_; }

 private:
  platform::Clock& clock_;
  std::unique_ptr<PerformanceStopwatch> stopwatch_;
  double baseMs_ = 0.0;
};

}  // namespace dorvane::runtime
