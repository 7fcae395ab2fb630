// The acquisition's time stamps on a virtual counter.
#include <cstdint>

#include <gtest/gtest.h>

#include "runtime/timestamp_clock.h"
#include "tests/support/virtual_clock.h"

namespace dorvane::runtime {
namespace {

// A counter that moves `step` ticks with every reading, as a real one moves while it is read, and
// that counts how often its frequency is asked for.
class SteppingClock : public testing::VirtualClock {
 public:
  std::int64_t counterValue() override {
    const std::int64_t value = counter;
    counter += step;
    return value;
  }
  std::int64_t counterFrequency() override {
    ++frequencyReads;
    return frequency;
  }
  std::int64_t step = 0;
  int frequencyReads = 0;
};

// The statics belong to the process; a test that needs the first clock's calibration starts afresh.
void forgetCalibration() {
  PerformanceStopwatch::counterFrequency = 0;
  PerformanceStopwatch::stopOverhead = 0;
}

TEST(TimestampClock, WithoutAUsableCounterFollowsTheWallClock) {
  for (const std::int64_t frequency : {0, 1}) {
    forgetCalibration();
    SteppingClock clock;
    clock.frequency = frequency;
    clock.counter = 1000;
    clock.wall = {1'700'000'000, 125};
    const TimestampClock stamps(clock);
    EXPECT_EQ(stamps.stopwatch(), nullptr) << frequency;
    EXPECT_EQ(PerformanceStopwatch::counterFrequency, 1) << frequency;
    clock.wall = {1'700'000'007, 999};
    clock.counter = 5'000'000;
    EXPECT_DOUBLE_EQ(stamps.nowMs(), 1'700'000'007'999.0) << frequency;
  }
}

TEST(TimestampClock, AddsTheCounterTimeLessTheCalibratedOverheadToTheBaseAndCalibratesOnce) {
  forgetCalibration();
  SteppingClock clock;
  clock.frequency = 4000;  // 4 ticks a millisecond
  clock.counter = 10'000;
  clock.step = 3;  // a start and a stop cost 3 ticks
  clock.wall = {1'700'000'000, 250};
  const TimestampClock stamps(clock);
  EXPECT_EQ(PerformanceStopwatch::stopOverhead, -3);
  EXPECT_EQ(clock.frequencyReads, 1);
  ASSERT_NE(stamps.stopwatch(), nullptr);
  EXPECT_DOUBLE_EQ(stamps.baseMs(), 1'700'000'000'250.0);

  // The stopwatch started at 10'006; 2003 ticks later, less the overhead of 3, is 500 ms.
  clock.step = 0;
  clock.counter = 10'006 + 2003;
  clock.wall = {1'800'000'000, 0};  // the wall clock is read once, at construction
  EXPECT_DOUBLE_EQ(stamps.nowMs(), 1'700'000'000'750.0);

  SteppingClock other;
  other.frequency = 0;
  other.counter = 77;
  other.step = 50;
  const TimestampClock second(other);
  EXPECT_EQ(other.frequencyReads, 0);
  EXPECT_EQ(PerformanceStopwatch::counterFrequency, 4000);
  EXPECT_EQ(PerformanceStopwatch::stopOverhead, -3);
  EXPECT_NE(second.stopwatch(), nullptr);
}

TEST(PerformanceStopwatch, StopKeepsTheElapsedTicksAndStartResumesFromThem) {
  PerformanceStopwatch::counterFrequency = 1000;
  PerformanceStopwatch::stopOverhead = -2;
  testing::VirtualClock clock;
  PerformanceStopwatch watch(clock);
  clock.counter = 5000;
  watch.start();
  clock.counter = 5100;
  EXPECT_EQ(watch.elapsedTicks(), 98);
  watch.stop();
  EXPECT_EQ(watch.ticks, -98);
  watch.stop();  // stopping twice keeps the time
  clock.counter = 9000;
  EXPECT_EQ(watch.elapsedTicks(), 98);

  watch.start();
  clock.counter = 9050;
  EXPECT_EQ(watch.elapsedTicks(), 146);  // both runs, each less one start and stop
  EXPECT_DOUBLE_EQ(watch.elapsedMs(), 146.0);
  watch.stop();
  EXPECT_EQ(watch.elapsedTicks(), 146);

  // A run shorter than the overhead counts as nothing, never as negative time.
  PerformanceStopwatch brief(clock);
  brief.start();
  clock.counter = 9051;
  EXPECT_EQ(brief.elapsedTicks(), 0);
  forgetCalibration();
}

}  // namespace
}  // namespace dorvane::runtime
