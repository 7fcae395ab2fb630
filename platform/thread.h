// A worker thread: started with a body, optionally at the highest priority the platform grants or
// below the others (work that must not take the cores from those that keep time), and joined by its
// owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace dorvane::platform {

enum class ThreadPriority { background, normal, timeCritical };

class Thread {
 public:
  Thread();
  // Joins a thread still running; its owner normally joins first.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread; false when the system refused to create it. A priority the
  // system refuses is ignored. Only on a Thread that is not joinable.
  bool start(std::function<std::uint32_t()> body, ThreadPriority priority);
  bool joinable() const;
  // Blocks until the body has returned, then releases the thread.
  void join();

 private:
  alignas(8) std::byte storage_[16];
};

// Names the calling thread where the system keeps names (shown by ps, top and debuggers); at most
// 15 characters are kept.
void nameCurrentThread(const char* name);

}  // namespace dorvane::platform
