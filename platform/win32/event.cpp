// Events on Windows: unnamed manual-reset Win32 events.
#include <windows.h>

#include <cstring>

#include "platform/event.h"

namespace dorvane::platform {
namespace {

HANDLE handleOf(const std::byte* storage) {
  HANDLE handle;
  std::memcpy(&handle, storage, sizeof handle);
  return handle;
}

}  // namespace

Event::Event() {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::memcpy(storage_, &handle, sizeof handle);
}
Event::~Event() {
  if (HANDLE handle = handleOf(storage_)) CloseHandle(handle);
}

void Event::set() { SetEvent(handleOf(storage_)); }
void Event::reset() { ResetEvent(handleOf(storage_)); }
bool Event::isSet() const { return WaitForSingleObject(handleOf(storage_), 0) == WAIT_OBJECT_0; }
bool Event::wait(std::uint32_t timeoutMs) const {
  return WaitForSingleObject(handleOf(storage_), timeoutMs) == WAIT_OBJECT_0;
}

int Event::waitAny(std::initializer_list<const Event*> events, std::uint32_t timeoutMs) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
  DWORD count = 0;
  for (const Event* event : events) {
    if (count == MAXIMUM_WAIT_OBJECTS) break;
    handles[count++] = handleOf(event->storage_);
  }
  const DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
  return -1;
}

void signalHostEvent(std::uintptr_t handle) {
  if (handle != 0) SetEvent(reinterpret_cast<HANDLE>(handle));
}

}  // namespace dorvane::platform
