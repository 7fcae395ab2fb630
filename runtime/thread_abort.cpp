// Waits and sleeps that an abort cuts short.
#include "runtime/thread_abort.h"

#include <algorithm>

namespace dorvane::runtime {

platform::InputWait AbortableSerial::waitForInput(int port, int count, std::uint32_t timeoutMs) {
  if (aborted()) return platform::InputWait::hungUp;
  const platform::InputWait result = serial_.waitForInput(port, count, std::min(timeoutMs, kAbortCheckMs));
  if (aborted()) return platform::InputWait::hungUp;
  // A slice that ran out before the caller's time is an early return: the caller checks again.
  if (result == platform::InputWait::timedOut && timeoutMs > kAbortCheckMs) return platform::InputWait::ready;
  return result;
}

void AbortableClock::sleep(std::uint32_t milliseconds) {
  while (milliseconds > 0 && !abort_.isSet()) {
    const std::uint32_t slice = std::min(milliseconds, kAbortCheckMs);
    clock_.sleep(slice);
    milliseconds -= slice;
  }
}

}  // namespace dorvane::runtime
