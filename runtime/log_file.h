// LogFile: the driver's time-stamped log, dorvane_log.txt beside the library. Every line is opened,
// written, flushed, committed to the disk and closed before print returns.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/mutex.h"
#include "runtime/printf_format.h"

namespace dorvane::runtime {

inline constexpr char kLogFileName[] = "dorvane_log.txt";
// A file longer than this when a line is written is emptied first, so the log stays near 10 MiB.
inline constexpr long kLogSizeCap = 10485760;
// Formatted text beyond this many characters is cut; the line end still follows.
inline constexpr int kLogTextLimit = 4096;

// The log's path for a library at `moduleFileName`: the library's directory, the platform's
// separator and dorvane_log.txt; just dorvane_log.txt (the current directory) when the name has no
// directory or is unknown.
std::string logPathBeside(const std::string& moduleFileName);

class LogFile {
 public:
  // `moduleFileName` is asked once, at the first line written, for the library's own file name.
  LogFile(platform::Clock& clock, std::function<std::string()> moduleFileName);
  virtual ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Writes one line: "[MM-DD hh:mm:ss]  text\n". Returns 1 when the line was written, 0 when the
  // log is off or the write failed (then onWriteFailed is called, unless the log was off).
  int print(const char* format, ...) DORVANE_PRINTF_FORMAT(2, 3);
  int printV(const char* format, std::va_list arguments);

  void enable() { disabled_.store(0); }
  void disable() { disabled_.store(1); }
  // 1 while the log is off, 0 while it is on.
  std::int32_t disabled() const { return disabled_.load(); }

  // The path worked out at the first line; empty before.
  std::string path() const;

 protected:
  // Called after a print that wrote nothing while the log was on.
  virtual void onWriteFailed() {}

 private:
  void openFile();
  void closeFile();

  platform::Clock& clock_;
  std::function<std::string()> moduleFileName_;
  std::FILE* file_ = nullptr;
  std::string path_;
  mutable platform::Mutex lock_;
  std::atomic<std::int32_t> disabled_{1};
  char text_[kLogTextLimit + 2] = {};  // the text, its line end and the terminator
};

}  // namespace dorvane::runtime
