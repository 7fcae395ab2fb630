// The library's own file on Windows: GetModuleFileNameA with the handle that DllMain kept, and
// what the loader says about the library's detaching.
#include <windows.h>

#include <atomic>

#include "platform/module.h"
#include "platform/win32/library_detach.h"

namespace dorvane::platform {
namespace {
HMODULE keptModule = nullptr;
std::atomic<bool> detaching{false};
std::atomic<bool> exiting{false};
}  // namespace

// DllMain stores the instance handle on every call and notes the detach, which the static
// destructors that run after it need to know of. It reads no settings, opens no port and starts no
// thread.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  keptModule = instance;
  if (reason == DLL_PROCESS_DETACH) {
    // A reserved pointer means the process is ending (every other thread is already gone); none
    // means FreeLibrary, under the loader lock.
    exiting = reserved != nullptr;
    detaching = true;
  }
  return TRUE;
}

bool libraryDetaching() { return detaching; }
bool processExiting() { return exiting; }

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
