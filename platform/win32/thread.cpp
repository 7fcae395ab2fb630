// Threads on Windows: CreateThread, SetThreadPriority and a wait on the thread's handle.
//
// A thread started from the DLL holds a reference on it until its last instruction in it, so a
// FreeLibrary while it runs cannot unmap the code under it: the DLL stays loaded (with its state,
// so a host that loads it again can stop the acquisition), and the thread's own exit releases it.
#include <windows.h>

#include <memory>

#include "platform/thread.h"
#include "platform/win32/handle_storage.h"
#include "platform/win32/library_detach.h"

namespace dorvane::platform {
namespace {

struct ThreadStart {
  std::function<std::uint32_t()> body;
  HMODULE pinnedModule;  // null when this code is linked into the program itself
};

// The module holding this code, with a reference taken, when it is a DLL.
HMODULE pinOwnLibrary() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&pinOwnLibrary),
                          &module)) {
    return nullptr;
  }
  if (module == GetModuleHandleA(nullptr)) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

DWORD WINAPI threadEntry(LPVOID parameter) {
  HMODULE pinned = nullptr;
  DWORD result = 0;
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    pinned = start->pinnedModule;
    result = start->body();
  }
  // Releases the reference and ends the thread without coming back into the DLL's code.
  if (pinned != nullptr) FreeLibraryAndExitThread(pinned, result);
  return result;
}

}  // namespace

Thread::Thread() { storeHandle(storage_, nullptr); }
Thread::~Thread() { join(); }

bool Thread::start(std::function<std::uint32_t()> body, ThreadPriority priority) {
  if (joinable()) return false;
  // The reference is taken here, not by the thread, so no FreeLibrary can come between.
  auto owned = std::make_unique<ThreadStart>(ThreadStart{std::move(body), pinOwnLibrary()});
  HANDLE handle = CreateThread(nullptr, 0, threadEntry, owned.get(), 0, nullptr);
  if (handle == nullptr) {
    if (owned->pinnedModule != nullptr) FreeLibrary(owned->pinnedModule);
    return false;
  }
  owned.release();  // the thread owns its body now
  storeHandle(storage_, handle);
  if (priority == ThreadPriority::timeCritical) (void)SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);
  if (priority == ThreadPriority::background) (void)SetThreadPriority(handle, THREAD_PRIORITY_BELOW_NORMAL);
  return true;
}

// Windows 7, the oldest system the DLL loads on, has no thread names.
void nameCurrentThread(const char*) {}

bool Thread::joinable() const { return loadHandle(storage_) != nullptr; }

void Thread::join() {
  HANDLE handle = loadHandle(storage_);
  if (handle == nullptr) return;
  // While the DLL detaches, no thread of ours is in its code any more (each holds a reference on
  // it until it leaves), but one may still be waiting for the loader lock to exit: a wait here
  // would never end.
  if (!libraryDetaching()) WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
  storeHandle(storage_, nullptr);
}

}  // namespace dorvane::platform
