// A non-recursive lock: a critical section on Windows, std::mutex elsewhere. The storage is opaque
// so that no operating-system header leaks above this folder.
#pragma once

#include <cstddef>

namespace dorvane::platform {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();

 private:
  alignas(16) std::byte storage_[64];
};

class ScopedLock {
 public:
  explicit ScopedLock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~ScopedLock() { mutex_.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace dorvane::platform
