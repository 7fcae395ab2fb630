// Threads on Windows: CreateThread, SetThreadPriority and a wait on the thread's handle.
#include <windows.h>

#include <memory>

#include "platform/thread.h"
#include "platform/win32/handle_storage.h"

namespace dorvane::platform {
namespace {

DWORD WINAPI threadEntry(LPVOID parameter) {
  std::unique_ptr<std::function<std::uint32_t()>> body(static_cast<std::function<std::uint32_t()>*>(parameter));
  return (*body)();
}

}  // namespace

Thread::Thread() { storeHandle(storage_, nullptr); }
Thread::~Thread() { join(); }

bool Thread::start(std::function<std::uint32_t()> body, ThreadPriority priority) {
  if (joinable()) return false;
  auto owned = std::make_unique<std::function<std::uint32_t()>>(std::move(body));
  HANDLE handle = CreateThread(nullptr, 0, threadEntry, owned.get(), 0, nullptr);
  if (handle == nullptr) return false;
  owned.release();  // the thread owns its body now
  storeHandle(storage_, handle);
  if (priority == ThreadPriority::timeCritical) (void)SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);
  return true;
}

// Windows 7, the oldest system the DLL loads on, has no thread names.
void nameCurrentThread(const char*) {}

bool Thread::joinable() const { return loadHandle(storage_) != nullptr; }

void Thread::join() {
  HANDLE handle = loadHandle(storage_);
  if (handle == nullptr) return;
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
  storeHandle(storage_, nullptr);
}

}  // namespace dorvane::platform
