// The manual-reset events and the host's event handle.
#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event.h"

namespace dorvane::platform {
namespace {

TEST(Event, WaitAnyReportsTheFirstSetEventInListOrderNotTheFirstToBeSet) {
  Event a, b, c;
  EXPECT_EQ(Event::waitAny({&a, &b, &c}, 0), -1);
  EXPECT_EQ(Event::waitAny({&a, &b}, 10), -1);
  c.set();
  b.set();
  EXPECT_EQ(Event::waitAny({&a, &b, &c}, 0), 1);
  EXPECT_EQ(Event::waitAny({&c, &b}, kWaitForever), 0);
}

TEST(Event, SetFromAnotherThreadWakesAForeverWait) {
  Event event;
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.set();
  });
  EXPECT_EQ(Event::waitAny({&event}, kWaitForever), 0);
  setter.join();
}

TEST(Event, ASetEventReleasesEveryWaiterAndStaysSetUntilReset) {
  Event event;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (event.wait(kWaitForever)) ++woken;
    });
  }
  event.set();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(woken, 3);
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.isSet());
  event.reset();
  EXPECT_FALSE(event.wait(0));
}

std::uint64_t drain(int fd) {
  std::uint64_t value = 0;
  return read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value) ? value : 0;
}

TEST(Event, SignalHostEventAddsOneToAnEventDescriptorAndTreatsZeroAsNoEvent) {
  const int fd = eventfd(0, EFD_NONBLOCK);
  ASSERT_GE(fd, 0);
  signalHostEvent(static_cast<std::uintptr_t>(fd));
  EXPECT_EQ(drain(fd), 1u);
  signalHostEvent(static_cast<std::uintptr_t>(fd));
  signalHostEvent(static_cast<std::uintptr_t>(fd));
  EXPECT_EQ(drain(fd), 2u);

  // Descriptor 0 is a valid descriptor on POSIX, so put an eventfd there to see that 0 is not
  // written to.
  const int savedStdin = dup(0);
  ASSERT_GE(savedStdin, 0);
  ASSERT_EQ(dup2(fd, 0), 0);
  signalHostEvent(0);
  EXPECT_EQ(drain(0), 0u);
  dup2(savedStdin, 0);
  close(savedStdin);
  close(fd);
}

}  // namespace
}  // namespace dorvane::platform
