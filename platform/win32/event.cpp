// Events on Windows: unnamed manual-reset Win32 events.
#include <windows.h>

#include "platform/event.h"
#include "platform/win32/handle_storage.h"

namespace dorvane::platform {

Event::Event() { storeHandle(storage_, CreateEventA(nullptr, TRUE, FALSE, nullptr)); }
Event::~Event() {
  if (HANDLE handle = loadHandle(storage_)) CloseHandle(handle);
}

void Event::set() { SetEvent(loadHandle(storage_)); }
void Event::reset() { ResetEvent(loadHandle(storage_)); }
bool Event::isSet() const { return WaitForSingleObject(loadHandle(storage_), 0) == WAIT_OBJECT_0; }
bool Event::wait(std::uint32_t timeoutMs) const {
  return WaitForSingleObject(loadHandle(storage_), timeoutMs) == WAIT_OBJECT_0;
}

int Event::waitAny(std::initializer_list<const Event*> events, std::uint32_t timeoutMs) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
  DWORD count = 0;
  for (const Event* event : events) {
    if (count == MAXIMUM_WAIT_OBJECTS) break;
    handles[count++] = loadHandle(event->storage_);
  }
  const DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
  return -1;
}

void signalHostEvent(std::uintptr_t handle) {
  if (handle != 0) SetEvent(reinterpret_cast<HANDLE>(handle));
}

}  // namespace dorvane::platform
