/* A host written in C: the public header compiles as C and the library links and answers. */
#include <stdio.h>
#include <string.h>

#include "dorvane.h"

int main(void) {
  double buffer[4] = {1.0, 2.0, 3.0, 4.0};
  double timestamp = -1.0;
  dorvane_command command;
  const int32_t nothing = spectrometer_execute(NULL);
  const int32_t notSet = spectrometer_open(7); /* no settings loaded: no port */
  const int32_t status = spectrometer_getStatus();
  const int32_t scans = spectrometer_getScans();
  const int32_t noData = spectrometer_getData(buffer, 4, &timestamp);
  if (nothing != 0 || notSet != -1 || status != DORVANE_STATUS_NEVER_OPENED || scans != 16 || noData != 1 ||
      buffer[0] != 1.0 || timestamp != -1.0 || spectrometer_close() != 1) {
    printf("unexpected results %d %d %d %d %d\n", (int)nothing, (int)notSet, (int)status, (int)scans, (int)noData);
    return 1;
  }
  /* The error table and the command reader are usable from C, and every code has a phrase. */
  if (strcmp(dorvane_error_text(DORVANE_ERROR_PORT_BUSY), "an acquisition holds the serial port") != 0 ||
      strcmp(dorvane_error_text(12345), "an unknown error") != 0) {
    printf("unexpected error text %s\n", dorvane_error_text(DORVANE_ERROR_PORT_BUSY));
    return 1;
  }
  command = dorvane_read_command("Irises -7 3");
  if (command.kind != DORVANE_COMMAND_IRIS || command.fields != 3 || command.first != -7) {
    printf("\"Irises -7 3\" read as command %d with %d fields\n", (int)command.kind, (int)command.fields);
    return 1;
  }
  return 0;
}
