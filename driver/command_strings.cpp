// spectrometer_execute: the host's text commands.
#include "driver/driver.h"

namespace dorvane::driver {

std::int32_t Driver::execute(const char* command) {
  if (command == nullptr) return 0;  // nothing to read: handled as an unrecognised command

  debugPrint("dorvane.dll.spectrometer_execute %s", command);
  log_.print("dorvane.dll.spectrometer_execute %s", command);
  if (command[0] == '@') return loadSettings(command + 1);

  // The bench commands (accessories, reset, identity) need the serial link; until it exists every
  // other command is unrecognised and the port is left alone.
  return 0;
}

}  // namespace dorvane::driver
