// The stopwatch's calibration and the time stamps built on it.
#include "runtime/timestamp_clock.h"

namespace dorvane::runtime {

double wallClockMs(platform::Clock& clock) {
  const platform::WallTime now = clock.wallTime();
  return static_cast<double>(now.seconds) * 1000.0 + now.milliseconds;
}

void PerformanceStopwatch::start() {
  const std::int64_t now = clock_.counterValue();
  if (ticks < 0) {
    ticks += now;  // resumes with the time kept from the earlier run
  } else {
    ticks = now;
  }
}

void PerformanceStopwatch::stop() {
  if (ticks <= 0) return;
  const std::int64_t elapsedNegated = ticks - clock_.counterValue();
  ticks = elapsedNegated < stopOverhead ? elapsedNegated - stopOverhead : 0;
}

std::int64_t PerformanceStopwatch::elapsedTicks() const {
  if (ticks <= 0) return -ticks;
  const std::int64_t elapsedNegated = ticks - clock_.counterValue();
  return elapsedNegated < stopOverhead ? stopOverhead - elapsedNegated : 0;
}

double PerformanceStopwatch::elapsedMs() const {
  return static_cast<double>(elapsedTicks()) * 1000.0 / static_cast<double>(counterFrequency);
}

TimestampClock::TimestampClock(platform::Clock& clock)
    : clock_(clock), stopwatch_(std::make_unique<PerformanceStopwatch>(clock)) {
  if (PerformanceStopwatch::counterFrequency == 0) {
    const std::int64_t frequency = clock.counterFrequency();
    PerformanceStopwatch::counterFrequency = frequency == 0 ? 1 : frequency;
    PerformanceStopwatch::stopOverhead = 0;
    stopwatch_->ticks = 0;
    stopwatch_->start();
    stopwatch_->stop();
    PerformanceStopwatch::stopOverhead = stopwatch_->ticks;
  }
  stopwatch_->ticks = 0;
  if (PerformanceStopwatch::counterFrequency < 2) {
    stopwatch_.reset();
  } else {
    stopwatch_->start();
  }
  baseMs_ = wallClockMs(clock);
}

double TimestampClock::nowMs() const {
  if (!stopwatch_) return wallClockMs(clock_);
  return stopwatch_->elapsedMs() + baseMs_;
}

}  // namespace dorvane::runtime
