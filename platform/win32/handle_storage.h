// A Win32 handle kept in a class's opaque storage, so the class's header needs no windows.h.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>

namespace dorvane::platform {

inline HANDLE loadHandle(const std::byte* storage) {
  HANDLE handle;
  std::memcpy(&handle, storage, sizeof handle);
  return handle;
}

inline void storeHandle(std::byte* storage, HANDLE handle) { std::memcpy(storage, &handle, sizeof handle); }

}  // namespace dorvane::platform
