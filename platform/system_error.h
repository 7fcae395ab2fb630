// The calling thread's last system error (errno on POSIX systems, GetLastError on Windows), kept
// across bookkeeping such as a log line, so that a line reporting an error reports the real one.
#pragma once

namespace dorvane::platform {

class SystemErrorKeeper {
 public:
  SystemErrorKeeper();
  ~SystemErrorKeeper();
  SystemErrorKeeper(const SystemErrorKeeper&) = delete;
  SystemErrorKeeper& operator=(const SystemErrorKeeper&) = delete;

 private:
  unsigned long saved_;
};

}  // namespace dorvane::platform
