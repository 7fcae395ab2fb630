// GoogleTest's own hook for a port's pieces, put ahead of its empty default in the Windows build
// only. MinGW's win32 thread model has no std::mutex or std::condition_variable, which GoogleTest's
// Notification is made of; this one is a Win32 event, so GoogleTest stays thread-safe there.
#pragma once

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

// Lets a controller thread hold back the threads it creates until it notifies them.
class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();
  void WaitForNotification();

 private:
  void* event_;  // a manual-reset event; windows.h stays out of every test
};

}  // namespace testing::internal
