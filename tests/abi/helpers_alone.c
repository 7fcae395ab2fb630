/* dorvane_helpers.h alone, with each helper called, as a C or C++ host compiles it. */
#include "dorvane_helpers.h"

int dorvane_helpers_used(void) {
  char device[64];
  const dorvane_command command = dorvane_read_command("movemotor 1 -20");
  return dorvane_error_text(DORVANE_ERROR_PORT_BUSY)[0] + command.second + (int)dorvane_serial_device(1, device, sizeof device);
}
