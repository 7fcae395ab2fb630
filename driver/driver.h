// Driver: the process-wide driver object that owns the state, the log and the platform services it
// uses. The exports forward to processDriver(); tests build drivers of their own.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "driver/driver_state.h"
#include "link/com_port.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"
#include "runtime/printf_format.h"

namespace dorvane::driver {

// How long an export waits for an acquisition that has told its last file to close the port. The
// thread has only log lines and the port's closing left: this bound is for a port whose close hangs.
inline constexpr std::uint32_t kEndingPatienceMs = 5000;

struct DriverServices {
  platform::Clock& clock;
  platform::DebugOutput& debugOutput;
  platform::SerialLibrary& serial;
  // The library's own file name, asked once by the log for its directory.
  std::function<std::string()> moduleFileName;
};

class Driver {
 public:
  explicit Driver(const DriverServices& services);
  // Stops a running acquisition, so its thread never outlives the state it works on.
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Open, initialise and close.
  std::int32_t open(std::int32_t id);
  std::int32_t initialize();
  std::int32_t close();

  // Co-add acquisition.
  std::int32_t startCoadd();
  std::int32_t stop();
  std::int32_t getData(double* buffer, std::int32_t pts, double* timestamp);
  std::int32_t getScanProgress() const { return state_._scansComplete.load(); }
  std::int32_t getFileProgress() const { return state_._filesComplete.load(); }
  std::int32_t getStatus() const { return state_.status.load(); }

  // Acquisition parameters and notifications.
  std::int32_t getCapabilities();
  double getTimestamp();
  double getGain() const { return state_.gain; }
  double setGain(double gain);
  double getResolution() const { return state_.resolution; }
  double setResolution(double resolution);
  std::int32_t getPoints() const;
  std::int32_t setPoints(std::int32_t points);
  std::int32_t getScans() const { return state_.scans; }
  std::int32_t setScans(std::int32_t scans);
  std::int32_t getFiles() const { return state_.files; }
  std::int32_t setFiles(std::int32_t files);
  std::int32_t setScanCompleteEventHandle(std::uintptr_t handle);
  std::int32_t setCoaddCompleteEventHandle(std::uintptr_t handle);

  // spectrometer_execute: a text command; "@path" loads the settings.
  std::int32_t execute(const char* command);
  // Loads section [Settings] of the INI file at `path`; always returns 0.
  std::int32_t loadSettings(const char* path);

  // Remote data and setup export.
  std::int32_t getRemoteData(std::int32_t index, double* values, std::int32_t* count);
  std::int32_t getRemoteDataList(char* text);
  std::int32_t getSetup(char* text, std::int32_t ignored);

  DriverState& state() { return state_; }
  runtime::LogFile& log() { return log_; }
  link::LinkServices& link() { return link_; }

 private:
  int debugPrint(const char* format, ...) DORVANE_PRINTF_FORMAT(2, 3);

  // True while an acquisition thread holds the serial port. An export that would talk to the
  // bench then logs that it is refused and returns kErrorPortBusy, unless the thread is only
  // ending: then it waits up to kEndingPatienceMs for the port.
  bool acquisitionHoldsPort() const;
  bool refusedWhileAcquiring(const char* exportName);

  std::int32_t callInit();
  bool initNeeded();
  // The acquisition object's services: the driver's own.
  AcquisitionServices acquisitionServices() { return {serial_, clock_, log_, debugOutput_}; }

  platform::Clock& clock_;
  platform::DebugOutput& debugOutput_;
  platform::SerialLibrary& serial_;
  runtime::LogFile log_;
  link::LinkServices link_;
  DriverState state_;
};

// The driver of this process, built at the first export call with the operating system's services.
Driver& processDriver();

}  // namespace dorvane::driver
