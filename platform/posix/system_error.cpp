// The last system error on POSIX systems is errno.
#include <cerrno>

#include "platform/system_error.h"

namespace dorvane::platform {

SystemErrorKeeper::SystemErrorKeeper() : saved_(static_cast<unsigned long>(errno)) {}
SystemErrorKeeper::~SystemErrorKeeper() { errno = static_cast<int>(saved_); }

}  // namespace dorvane::platform
