// The lock on Windows is a critical section placed in the opaque storage.
#include <windows.h>

#include <new>

#include "platform/mutex.h"

namespace dorvane::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16);

namespace {
CRITICAL_SECTION* section(std::byte* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

Mutex::Mutex() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
Mutex::~Mutex() { DeleteCriticalSection(section(storage_)); }
void Mutex::lock() { EnterCriticalSection(section(storage_)); }
void Mutex::unlock() { LeaveCriticalSection(section(storage_)); }

}  // namespace dorvane::platform
