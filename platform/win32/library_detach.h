// Between the Win32 sources of the platform layer only: whether the loader is detaching this DLL.
#pragma once

namespace dorvane::platform {

// True from DLL_PROCESS_DETACH on (FreeLibrary or the process's end). The loader lock is held then:
// a wait for a thread to end would wait for ever, as a thread needs that lock to exit.
bool libraryDetaching();

}  // namespace dorvane::platform
