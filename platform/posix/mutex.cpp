// The lock on POSIX systems is a std::mutex placed in the opaque storage.
#include <mutex>
#include <new>

#include "platform/mutex.h"

namespace dorvane::platform {

static_assert(sizeof(std::mutex) <= 64 && alignof(std::mutex) <= 16);

Mutex::Mutex() { new (storage_) std::mutex(); }
Mutex::~Mutex() { std::launder(reinterpret_cast<std::mutex*>(storage_))->~mutex(); }
void Mutex::lock() { std::launder(reinterpret_cast<std::mutex*>(storage_))->lock(); }
void Mutex::unlock() { std::launder(reinterpret_cast<std::mutex*>(storage_))->unlock(); }

}  // namespace dorvane::platform
