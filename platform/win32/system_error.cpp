// The last system error on Windows is the thread's GetLastError value.
#include <windows.h>

#include "platform/system_error.h"

namespace dorvane::platform {

SystemErrorKeeper::SystemErrorKeeper() : saved_(GetLastError()) {}
SystemErrorKeeper::~SystemErrorKeeper() { SetLastError(static_cast<DWORD>(saved_)); }

}  // namespace dorvane::platform
