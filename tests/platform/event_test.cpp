// The manual-reset events and the host's event handle.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

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
  Thread setter;
  ASSERT_TRUE(setter.start(
      [&] {
        systemClock().sleep(20);
        event.set();
        return 0u;
      },
      ThreadPriority::normal));
  EXPECT_EQ(Event::waitAny({&event}, kWaitForever), 0);
  setter.join();
}

TEST(Event, ASetEventReleasesEveryWaiterAndStaysSetUntilReset) {
  Event event;
  std::atomic<int> woken{0};
  Thread waiters[3];
  for (Thread& waiter : waiters) {
    // Not an ASSERT: returning here would leave the started waiters waiting forever.
    EXPECT_TRUE(waiter.start(
        [&] {
          if (event.wait(kWaitForever)) ++woken;
          return 0u;
        },
        ThreadPriority::normal));
  }
  event.set();
  for (Thread& waiter : waiters) waiter.join();
  EXPECT_EQ(woken, 3);
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.isSet());
  event.reset();
  EXPECT_FALSE(event.wait(0));
}

#ifdef _WIN32

TEST(Event, SignalHostEventSetsTheHostsWin32EventAndTreatsZeroAsNoEvent) {
  const HANDLE hostEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(hostEvent, nullptr);
  signalHostEvent(reinterpret_cast<std::uintptr_t>(hostEvent));
  EXPECT_EQ(WaitForSingleObject(hostEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(hostEvent, 0), WAIT_OBJECT_0);  // set until the host resets it

  // SetEvent on a null handle would fail with ERROR_INVALID_HANDLE: 0 must not reach it.
  SetLastError(ERROR_SUCCESS);
  signalHostEvent(0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(hostEvent);
}

#else

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

#endif

}  // namespace
}  // namespace dorvane::platform
