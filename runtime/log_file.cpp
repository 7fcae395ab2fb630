// LogFile: open-append-write-flush-commit-close for every line, under one lock.
#include "runtime/log_file.h"

#include <cstring>
#include <utility>

#include "platform/file_commit.h"
#include "platform/module.h"
#include "platform/system_error.h"

namespace dorvane::runtime {

std::string logPathBeside(const std::string& moduleFileName) {
  const platform::PathRules rules = platform::pathRules();
  // The separators are tried one after the other: on Windows the last backslash, and only when
  // there is none, the last forward slash.
  for (const char* separator = rules.separatorsBySearchOrder; *separator != '\0'; ++separator) {
    const std::size_t position = moduleFileName.rfind(*separator);
    if (position != std::string::npos) {
      return moduleFileName.substr(0, position) + rules.separator + kLogFileName;
    }
  }
  return kLogFileName;
}

LogFile::LogFile(platform::Clock& clock, std::function<std::string()> moduleFileName)
    : clock_(clock), moduleFileName_(std::move(moduleFileName)) {}

LogFile::~LogFile() { closeFile(); }

std::string LogFile::path() const {
  platform::ScopedLock hold(lock_);
  return path_;
}

int LogFile::print(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int result = printV(format, arguments);
  va_end(arguments);
  return result;
}

int LogFile::printV(const char* format, std::va_list arguments) {
  // The switch is read without the lock: a switch made during another thread's print counts from
  // the next line.
  if (disabled_.load() != 0) return 0;

  // Lines often report a failed call with its system error: writing them must not change it.
  const platform::SystemErrorKeeper keepSystemError;
  int result = 0;
  {
    platform::ScopedLock hold(lock_);
    openFile();
    if (std::vsnprintf(text_, kLogTextLimit + 1, format, arguments) < 0) text_[0] = '\0';
    const std::size_t length = std::strlen(text_);
    text_[length] = '\n';
    text_[length + 1] = '\0';

    if (file_ != nullptr) {
      const platform::CalendarTime now = clock_.localCalendar(clock_.wallTime().seconds);
      char stamp[64];
      std::snprintf(stamp, sizeof stamp, "[%02d-%02d %02d:%02d:%02d] ", now.month, now.day,
                    now.hour, now.minute, now.second);
      result = std::fprintf(file_, "%s %s", stamp, text_) > 0 ? 1 : 0;
      closeFile();
    }
  }
  if (result == 0) onWriteFailed();
  return result;
}

void LogFile::openFile() {
  if (path_.empty()) path_ = logPathBeside(moduleFileName_ ? moduleFileName_() : std::string());
  file_ = std::fopen(path_.c_str(), "at");
  if (file_ == nullptr) return;
  if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) > kLogSizeCap) {
    // Too long: start a fresh file, whose first line is the one being written.
    std::fclose(file_);
    file_ = std::fopen(path_.c_str(), "wt");
  }
}

void LogFile::closeFile() {
  if (file_ == nullptr) return;
  platform::commitToDisk(file_);
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace dorvane::runtime
