/* A host written in C: the public headers compile as C and the library links and answers. */
#if !defined(_WIN32)
#  define _POSIX_C_SOURCE 200112L /* setenv */
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dorvane_helpers.h"

/* The device of a port: the settings' numbering, the environment's name for it on Linux, and a
 * buffer too short for it cut short inside its bounds. */
static int serialDevicesAsTheDriverNamesThem(void) {
  char device[16];
  char shortDevice[6] = {'x', 'x', 'x', 'x', 'x', 'G'}; /* five bytes and a guard */
  long length;
#if defined(_WIN32)
  length = dorvane_serial_device(49, device, sizeof device);
  if (length != 9 || strcmp(device, "\\\\.\\COM49") != 0) {
    printf("port 49 is %s (%ld)\n", device, length);
    return 1;
  }
#else
  unsetenv("DORVANE_COM7");
  length = dorvane_serial_device(7, device, sizeof device);
  if (length != 10 || strcmp(device, "/dev/ttyS6") != 0) {
    printf("port 7 without DORVANE_COM7 is %s (%ld)\n", device, length);
    return 1;
  }
  setenv("DORVANE_COM7", "/dev/pts/12", 1);
  length = dorvane_serial_device(7, device, sizeof device);
  if (length != 11 || strcmp(device, "/dev/pts/12") != 0) {
    printf("port 7 with DORVANE_COM7 is %s (%ld)\n", device, length);
    return 1;
  }
  length = dorvane_serial_device(7, shortDevice, 5);
  if (length != 11 || strcmp(shortDevice, "/dev") != 0 || shortDevice[5] != 'G') {
    printf("port 7 in 5 bytes is %.5s (%ld), guard %c\n", shortDevice, length, shortDevice[5]);
    return 1;
  }
#endif
  (void)shortDevice;
  length = dorvane_serial_device(0, device, sizeof device);
  if (length != -1 || device[0] != '\0') {
    printf("port 0 is %s (%ld)\n", device, length);
    return 1;
  }
  return 0;
}

int main(void) {
  double buffer[4] = {1.0, 2.0, 3.0, 4.0};
  double timestamp = -1.0;
  dorvane_command command;
  const int32_t nothing = spectrometer_execute(NULL);
  const int32_t notSet = spectrometer_open(7); /* no settings loaded: no port */
  const int32_t status = spectrometer_getStatus();
  const int32_t scans = spectrometer_getScans();
  const int32_t noData = spectrometer_getData(buffer, 4, &timestamp);
  if (nothing != 0 || notSet != DORVANE_OPEN_NO_PORT || status != DORVANE_STATUS_NEVER_OPENED || scans != 16 || noData != 1 ||
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
  return serialDevicesAsTheDriverNamesThem();
}
