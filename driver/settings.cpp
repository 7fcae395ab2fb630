// The settings load: section [Settings] of the host's INI file into the driver state.
#include "driver/driver.h"
#include "platform/ini.h"

namespace dorvane::driver {

std::int32_t Driver::loadSettings(const char* path) {
  // Read in the settings' order, then the log switch; a missing key (or one with no leading number)
  // reads as 0 and is stored all the same, so it does not fall back to the built-in default.
  const auto read = [path](const char* key) {
    return platform::readProfileInt("Settings", key, 0, path);
  };
  DriverState& s = state_;
#define DORVANE_LOAD_SETTING(name, initial) s.name = read(#name);
  DORVANE_DRIVER_SETTINGS(DORVANE_LOAD_SETTING)
#undef DORVANE_LOAD_SETTING
  // The file numbers ports from 1, the driver from 0: a missing or zero key leaves -1, "not set".
  // Unsigned arithmetic keeps the smallest integer from overflowing.
  s.port = static_cast<std::int32_t>(static_cast<std::uint32_t>(s.port) - 1u);
  const std::int32_t logSwitch = read("log");

  debugPrint("dorvane.dll: log= %d", logSwitch);
  if (logSwitch != 0) {
    log_.enable();
  } else {
    log_.disable();
  }
  log_.print(
      "dorvane.ini settings are: fvel= %d; rvel= %d; symmetry= %d; points= %d;\n"
      "gain = %d; lasersamp= %d;lpf= %d;port= %d;baud= %d\nqturn= %d, lturn= %d",
      s.fvel, s.rvel, s.symmetry, s.points, s.gain, s.lasersamp, s.lpf, s.port, s.baud, s.qturn,
      s.lturn);
  return 0;
}

}  // namespace dorvane::driver
