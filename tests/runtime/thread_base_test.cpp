// The worker thread's start handshake, its bounded stop and its restart.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "runtime/thread_abort.h"
#include "runtime/thread_base.h"
#include "tests/support/test_support.h"

namespace dorvane::runtime {
namespace {

using platform::kWaitForever;

const std::string kSettingKill = "CThreadBase::Stop setting kill event\n";
const std::string kWaitingForDone = "CThreadBase::Stop waiting for thread done event\n";
const std::string kNoDone = "CThreadBase::Stop no thread done event, terminating thread\n";

// A worker and the body it runs on each Start.
class TestThread : public CThreadBase {
 public:
  using Body = std::function<std::uint32_t(TestThread&)>;
  TestThread(platform::DebugOutput& output, Body body) : CThreadBase(output), body(std::move(body)) {}

  bool Start() {
    // A copy: the destructor may stop a body that outlives this object's own members.
    return CThreadBase::Start([this, run = body] { return run(*this); });
  }

  Body body;
};

// Starts, then runs until killed.
std::uint32_t untilKilled(TestThread& t) {
  t.threadStartedEvent.set();
  t.killEvent.wait(kWaitForever);
  t.threadDoneEvent.set();
  return 0;
}

TEST(ThreadBase, StartReturnsTheBodysVerdictAndAnyBodyThatRanMarksTheThreadStarted) {
  testing::CapturedDebugOutput output;
  TestThread good(output, untilKilled);
  EXPECT_TRUE(good.Start());
  EXPECT_TRUE(good.threadStarted());
  EXPECT_TRUE(good.running());
  good.Stop();
  EXPECT_FALSE(good.running());
  EXPECT_TRUE(good.threadStarted());

  TestThread failing(output, [](TestThread& t) {
    t.threadStartFailedEvent.set();
    t.threadDoneEvent.set();
    return 1u;
  });
  EXPECT_FALSE(failing.Start());
  EXPECT_TRUE(failing.threadStarted());

  // A body that ends without a word answers through its done event.
  TestThread silent(output, [](TestThread& t) {
    t.threadDoneEvent.set();
    return 0u;
  });
  EXPECT_FALSE(silent.Start());
}

TEST(ThreadBase, StopWritesNothingBeforeAStartAndOnlyTheKillAndWaitLinesAfterTheBodyFinished) {
  testing::CapturedDebugOutput output;
  TestThread t(output, [](TestThread& self) {
    self.threadStartedEvent.set();
    self.threadDoneEvent.set();
    return 0u;
  });
  t.Stop();
  EXPECT_TRUE(output.lines.empty());
  EXPECT_FALSE(t.killEvent.isSet());
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(t.threadDoneEvent.wait(kWaitForever));
  t.Stop();
  EXPECT_EQ(output.lines, (std::vector<std::string>{kSettingKill, kWaitingForDone}));
  EXPECT_FALSE(t.abortEvent.isSet());
}

// Costs the full patience of 5 s of real time.
TEST(ThreadBase, StopAbortsABodyThatIgnoresTheKillEvent) {
  testing::CapturedDebugOutput output;
  std::atomic<bool> sleepCutShort{false};
  TestThread t(output, [&](TestThread& self) {
    self.threadStartedEvent.set();
    AbortableClock clock(platform::systemClock(), self.abortEvent);
    clock.sleep(40000);  // well inside the test's time-out, so a missing abort fails rather than hangs
    sleepCutShort = self.abortEvent.isSet();
    self.threadDoneEvent.set();
    return 0u;
  });
  ASSERT_TRUE(t.Start());
  t.Stop();
  EXPECT_EQ(output.lines, (std::vector<std::string>{kSettingKill, kWaitingForDone, kNoDone}));
  EXPECT_TRUE(sleepCutShort);
  EXPECT_TRUE(t.threadDoneEvent.isSet());  // Stop returned only after the body ended
  EXPECT_FALSE(t.running());
}

TEST(ThreadBase, RestartClearsTheEventsOfThePreviousRun) {
  testing::CapturedDebugOutput output;
  std::vector<bool> sawStaleEvent;  // written by one body at a time, read after Start returned
  TestThread t(output, [&](TestThread& self) {
    sawStaleEvent.push_back(self.killEvent.isSet() || self.threadDoneEvent.isSet() || self.abortEvent.isSet());
    return untilKilled(self);
  });
  ASSERT_TRUE(t.Start());
  t.Stop();
  t.abortEvent.set();  // as a previous run that outlived its patience leaves it
  ASSERT_TRUE(t.Start());
  EXPECT_TRUE(t.running());
  EXPECT_EQ(sawStaleEvent, (std::vector<bool>{false, false}));
  t.Stop();
}

TEST(ThreadBase, StartIsRefusedOnlyWhileABodyRuns) {
  testing::CapturedDebugOutput output;
  platform::Event go;
  std::atomic<int> runs{0};
  TestThread t(output, [&](TestThread& self) {
    ++runs;
    self.threadStartedEvent.set();
    go.wait(kWaitForever);
    self.threadDoneEvent.set();
    return 0u;
  });
  ASSERT_TRUE(t.Start());
  EXPECT_FALSE(t.Start());
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(t.killEvent.isSet());  // the refused Start left the running body alone

  go.set();
  ASSERT_TRUE(t.threadDoneEvent.wait(kWaitForever));
  EXPECT_TRUE(t.Start());  // finished without a Stop: the old thread is released, a new one runs
  EXPECT_EQ(runs, 2);
}

TEST(ThreadBase, DestroyingTheObjectStopsAndJoinsItsRunningBody) {
  testing::CapturedDebugOutput output;
  std::atomic<bool> killed{false};
  std::atomic<bool> returned{false};
  {
    TestThread t(output, [&](TestThread& self) {
      self.threadStartedEvent.set();
      killed = self.killEvent.wait(60000);  // bounded, so a destructor that never kills fails
      self.threadDoneEvent.set();
      platform::systemClock().sleep(20);
      returned = true;
      return 0u;
    });
    ASSERT_TRUE(t.Start());
  }
  EXPECT_TRUE(killed);
  EXPECT_TRUE(returned);
}

}  // namespace
}  // namespace dorvane::runtime
