// The library's own file on Windows: GetModuleFileNameA with the handle that DllMain kept.
#include <windows.h>

#include "platform/module.h"

namespace dorvane::platform {
namespace {
HMODULE keptModule = nullptr;
}  // namespace

// DllMain stores the instance handle on every call, whatever the reason, and does nothing else:
// it reads no settings, opens no port and starts no thread.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
  keptModule = instance;
  return TRUE;
}

std::string moduleFileName() {
  HMODULE module = keptModule;
  if (module == nullptr) {
    // Linked into a program rather than loaded as the DLL: ask which module holds this code.
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&moduleFileName), &module);
  }
  char name[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
  // A name cut at the buffer's end would put the log in the wrong directory: treat it as unknown.
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(name, length);
}

PathRules pathRules() { return PathRules{"\\/", '\\'}; }

}  // namespace dorvane::platform
