// Where this library lives on disk, and how this platform writes paths.
#pragma once

#include <string>

namespace dorvane::platform {

// The full file name of the loaded driver library (GetModuleFileNameA with the handle DllMain kept,
// dladdr on Linux); empty when it cannot be had.
std::string moduleFileName();

struct PathRules {
  // The characters that end a directory name, the one to look for first coming first.
  const char* separatorsBySearchOrder;
  // The separator this platform joins a directory and a file name with.
  char separator;
};

PathRules pathRules();

// True once the process has begun to end with this library still loaded: on Windows the loader has
// already ended every other thread before it detaches the DLL, so no thread of ours is left to stop
// or to wait for. Always false on Linux, where exit() runs the destructors while threads still run.
bool processExiting();

}  // namespace dorvane::platform
