// Threads on POSIX systems: std::thread. Linux keeps a nice value per thread, so the new thread
// sets its own priority; without the privilege a raise is refused, which is ignored.
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "platform/thread.h"

namespace dorvane::platform {
namespace {

static_assert(sizeof(std::thread) <= 16 && alignof(std::thread) <= 8);

std::thread& threadOf(std::byte* storage) { return *std::launder(reinterpret_cast<std::thread*>(storage)); }
const std::thread& threadOf(const std::byte* storage) {
  return *std::launder(reinterpret_cast<const std::thread*>(storage));
}

void setOwnPriority(ThreadPriority priority) {
#ifdef SYS_gettid
  if (priority == ThreadPriority::normal) return;
  const auto self = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, self, priority == ThreadPriority::timeCritical ? -20 : 10);
#else
  (void)priority;
#endif
}

}  // namespace

Thread::Thread() { new (storage_) std::thread(); }
Thread::~Thread() {
  if (joinable()) join();
  threadOf(storage_).~thread();
}

bool Thread::start(std::function<std::uint32_t()> body, ThreadPriority priority) {
  if (joinable()) return false;
  try {
    threadOf(storage_) = std::thread([body = std::move(body), priority] {
      setOwnPriority(priority);
      (void)body();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void nameCurrentThread(const char* name) {
  char kept[16] = {};
  std::strncpy(kept, name, sizeof kept - 1);
  (void)pthread_setname_np(pthread_self(), kept);
}

bool Thread::joinable() const { return threadOf(storage_).joinable(); }

void Thread::join() {
  if (threadOf(storage_).joinable()) threadOf(storage_).join();
}

}  // namespace dorvane::platform
