// The acquisition parameters, the host's event handles, and the newest co-add's time and length.
#include <cmath>
#include <limits>

#include "driver/scan_thread.h"
#include "driver/driver.h"

namespace dorvane::driver {
namespace {

// The gain code is the double cut toward zero. A value beyond 32 bits (or not a number) has no
// defined conversion, so it is held at the nearest end of the range (NaN gives 0).
std::int32_t gainCode(double gain) {
  if (std::isnan(gain)) return 0;
  if (gain >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (gain <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(gain);
}

}  // namespace

std::int32_t Driver::getCapabilities() {
  log_.print("dorvane.dll getCapabilities");
  return 0;
}

double Driver::getTimestamp() {
  log_.print("dorvane.dll getTimestamp");
  return state_.scanThread ? state_.scanThread->ring().readyTimestamp() : 0.0;
}

std::int32_t Driver::getPoints() const { return state_.scanThread ? state_.scanThread->ring().readyPoints() : 0; }

double Driver::setGain(double gain) {
  log_.print("dorvane.dll setGain %f", gain);
  state_.gain = gainCode(gain);
  return state_.gain;
}

double Driver::setResolution(double resolution) {
  log_.print("dorvane.dll setResolution %f", resolution);
  state_.resolution = resolution;
  return resolution;
}

std::int32_t Driver::setPoints(std::int32_t points) {
  log_.print("dorvane.dll setPoints %d", points);
  state_.points = points;
  return points;
}

std::int32_t Driver::setScans(std::int32_t scans) {
  log_.print("dorvane.dll setScans %d", scans);
  state_.scans = scans;
  return scans;
}

std::int32_t Driver::setFiles(std::int32_t files) {
  log_.print("dorvane.dll setFiles %d", files);
  state_.files = files;
  return files;
}

std::int32_t Driver::setScanCompleteEventHandle(std::uintptr_t handle) {
  log_.print("dorvane.dll setScanCompleteEventHandle %u", static_cast<unsigned>(handle));
  state_.scanCompleteEvent = handle;
  return 0;
}

std::int32_t Driver::setCoaddCompleteEventHandle(std::uintptr_t handle) {
  log_.print("dorvane.dll setCoaddCompleteEventHandle %u", static_cast<unsigned>(handle));
  state_.coaddCompleteEvent = handle;
  return 0;
}

}  // namespace dorvane::driver
