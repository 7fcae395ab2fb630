// The serial layer and the clock as an abortable worker thread sees them.
#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event.h"
#include "platform/thread.h"
#include "runtime/thread_abort.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/virtual_clock.h"

namespace dorvane::runtime {
namespace {

using platform::InputWait;

TEST(AbortableSerial, PassesEveryCallThroughUntilTheAbortThenFailsTransfersButStillCloses) {
  testing::VirtualClock clock;
  testing::ScriptedPeer peer(clock);
  platform::Event abort;
  AbortableSerial serial(peer, abort);
  const std::uint8_t block[] = {7, 8};
  std::uint8_t read[2] = {};

  peer.deliver({1, 2, 3, 4});
  EXPECT_EQ(serial.receiveCount(0), 4);
  EXPECT_EQ(serial.getByte(0), 1);
  EXPECT_EQ(serial.readBlock(0, read, 1), 1);
  EXPECT_EQ(serial.waitForInput(0, 2, 100), InputWait::ready);
  EXPECT_EQ(serial.putByte(0, 5), 1);
  EXPECT_EQ(serial.putBlock(0, block, 2), 2);
  ASSERT_EQ(peer.sent.size(), 2u);

  abort.set();
  EXPECT_LT(serial.receiveCount(0), 0);
  EXPECT_LT(serial.getByte(0), 0);
  EXPECT_LT(serial.readBlock(0, read, 2), 0);
  EXPECT_NE(serial.putByte(0, 5), 1);
  EXPECT_NE(serial.putBlock(0, block, 2), 2);
  EXPECT_EQ(serial.waitForInput(0, 5, platform::kWaitForever), InputWait::hungUp);  // without waiting at all
  EXPECT_EQ(peer.sent.size(), 2u);  // nothing reached the line
  EXPECT_EQ(peer.receiveCount(0), 2);  // and nothing was taken from it
  EXPECT_EQ(clock.ticks, 0u);

  EXPECT_EQ(serial.close(0), 0);
  EXPECT_EQ(peer.calls.back(), "close(0)");
}

TEST(AbortableSerial, WaitsAtMostOneSliceAndCallsAnEarlyEndReady) {
  testing::VirtualClock clock;
  testing::ScriptedPeer peer(clock);
  platform::Event abort;
  AbortableSerial serial(peer, abort);

  EXPECT_EQ(serial.waitForInput(0, 1, 30), InputWait::timedOut);
  EXPECT_EQ(clock.ticks, 30u);
  // A long wait ends after one slice as an early return, for the caller to check its clock again.
  EXPECT_EQ(serial.waitForInput(0, 1, 10000), InputWait::ready);
  EXPECT_EQ(clock.ticks, 30u + kAbortCheckMs);

  peer.deliver({1}, 20);
  EXPECT_EQ(serial.waitForInput(0, 1, 10000), InputWait::ready);
  EXPECT_EQ(clock.ticks, 100u);
}

// Records every slice slept and runs a hook after it.
class SliceClock : public testing::VirtualClock {
 public:
  void sleep(std::uint32_t milliseconds) override {
    VirtualClock::sleep(milliseconds);
    slices.push_back(milliseconds);
    if (afterSlice) afterSlice();
  }
  std::vector<std::uint32_t> slices;
  std::function<void()> afterSlice;
};

TEST(AbortableClock, SleepsInSlicesOnTheWrappedClockAndStopsAtTheAbort) {
  SliceClock clock;
  platform::Event abort;
  AbortableClock abortable(clock, abort);

  abortable.sleep(120);
  EXPECT_EQ(clock.slices, (std::vector<std::uint32_t>{50, 50, 20}));
  EXPECT_EQ(clock.ticks, 120u);

  clock.afterSlice = [&] {
    if (clock.slices.size() == 5) abort.set();
  };
  abortable.sleep(100000);
  EXPECT_EQ(clock.ticks, 220u);

  clock.slices.clear();
  abortable.sleep(100000);  // the abort is still raised: no slice at all
  EXPECT_TRUE(clock.slices.empty());
  EXPECT_EQ(clock.ticks, 220u);
}

TEST(AbortableClock, AnAbortFromAnotherThreadEndsALongSleep) {
  SliceClock clock;
  platform::Event abort, sleeping;
  clock.afterSlice = [&] {
    sleeping.set();
    // Real time per slice, so an abort that is never seen fails the test well inside its time-out.
    platform::systemClock().sleep(1);
  };
  platform::Thread sleeper;
  ASSERT_TRUE(sleeper.start(
      [&] {
        AbortableClock(clock, abort).sleep(1000000);
        return 0u;
      },
      platform::ThreadPriority::normal));
  ASSERT_TRUE(sleeping.wait(platform::kWaitForever));
  abort.set();
  sleeper.join();
  EXPECT_LT(clock.ticks, 1000000u);
  EXPECT_EQ(clock.ticks % kAbortCheckMs, 0u);
}

}  // namespace
}  // namespace dorvane::runtime
