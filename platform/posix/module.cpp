// The library's own file on Linux: dladdr on an address inside it.
#include <dlfcn.h>

#include "platform/module.h"

namespace dorvane::platform {

std::string moduleFileName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleFileName), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  return info.dli_fname;
}

// A backslash is an ordinary character in a POSIX file name, so only '/' separates directories.
PathRules pathRules() { return PathRules{"/", '/'}; }

bool processExiting() { return false; }

}  // namespace dorvane::platform
