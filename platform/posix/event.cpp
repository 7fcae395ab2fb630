// Events on POSIX systems. Events are set rarely (a handful per acquisition), so they share one
// lock and one condition variable: a wait for any of several events is then a plain predicate.
#include <errno.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/event.h"

namespace dorvane::platform {
namespace {

std::mutex& eventLock() {
  static std::mutex lock;
  return lock;
}
std::condition_variable& eventChange() {
  static std::condition_variable change;
  return change;
}

bool& flagOf(std::byte* storage) { return *std::launder(reinterpret_cast<bool*>(storage)); }
bool flagOf(const std::byte* storage) { return *std::launder(reinterpret_cast<const bool*>(storage)); }

}  // namespace

Event::Event() { new (storage_) bool(false); }
Event::~Event() = default;

void Event::set() {
  {
    std::lock_guard guard(eventLock());
    flagOf(storage_) = true;
  }
  eventChange().notify_all();
}

void Event::reset() {
  std::lock_guard guard(eventLock());
  flagOf(storage_) = false;
}

bool Event::isSet() const {
  std::lock_guard guard(eventLock());
  return flagOf(storage_);
}

bool Event::wait(std::uint32_t timeoutMs) const { return waitAny({this}, timeoutMs) == 0; }

int Event::waitAny(std::initializer_list<const Event*> events, std::uint32_t timeoutMs) {
  const auto firstSet = [&events] {
    int index = 0;
    for (const Event* event : events) {
      if (flagOf(event->storage_)) return index;
      ++index;
    }
    return -1;
  };
  std::unique_lock guard(eventLock());
  if (timeoutMs == kWaitForever) {
    eventChange().wait(guard, [&] { return firstSet() >= 0; });
  } else {
    eventChange().wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return firstSet() >= 0; });
  }
  return firstSet();
}

void signalHostEvent(std::uintptr_t handle) {
  if (handle == 0) return;
  const std::uint64_t one = 1;
  while (write(static_cast<int>(handle), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace dorvane::platform
