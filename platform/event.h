// Manual-reset events: once set they stay set until reset, and every waiter wakes. The storage is
// opaque so that no operating-system header leaks above this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace dorvane::platform {

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;  // Windows' INFINITE

class Event {
 public:
  Event();  // non-signalled
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // True when the event was (or became) set within `timeoutMs`.
  bool wait(std::uint32_t timeoutMs) const;

  // Waits until any of `events` is set: the index of the first one set, in list order, or -1 when
  // `timeoutMs` passed first.
  static int waitAny(std::initializer_list<const Event*> events, std::uint32_t timeoutMs);

 private:
  alignas(8) std::byte storage_[16];
};

// Signals a host's event handle: on Windows a Win32 event (SetEvent); elsewhere a writable
// descriptor such as an eventfd, written the 8-byte value 1. 0 means no event and does nothing.
void signalHostEvent(std::uintptr_t handle);

}  // namespace dorvane::platform
