// Driver: the process-wide driver object that owns the state, the log and the platform services it
// uses. The exports forward to processDriver(); tests build drivers of their own.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "driver/driver_state.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "runtime/log_file.h"
#include "runtime/printf_format.h"

namespace dorvane::driver {

struct DriverServices {
  platform::Clock& clock;
  platform::DebugOutput& debugOutput;
  // The library's own file name, asked once by the log for its directory.
  std::function<std::string()> moduleFileName;
};

class Driver {
 public:
  explicit Driver(const DriverServices& services);
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // spectrometer_execute: a text command; "@path" loads the settings.
  std::int32_t execute(const char* command);

  // Loads section [Settings] of the INI file at `path`; always returns 0.
  std::int32_t loadSettings(const char* path);

  DriverState& state() { return state_; }
  runtime::LogFile& log() { return log_; }

 private:
  int debugPrint(const char* format, ...) DORVANE_PRINTF_FORMAT(2, 3);

  platform::DebugOutput& debugOutput_;
  runtime::LogFile log_;
  DriverState state_;
};

// The driver of this process, built at the first export call with the operating system's services.
Driver& processDriver();

}  // namespace dorvane::driver
