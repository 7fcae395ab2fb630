/*
 * acquire_one: acquire one co-added interferogram through the dorvane driver and print a few
 * figures of it. A starting point for a host of your own.
 *
 *   acquire_one SETTINGS.ini
 *
 * SETTINGS.ini names the bench's serial port and the line's rate, e.g.
 *
 *   [Settings]
 *   port=1
 *   baud=38400
 *   points=4096
 *
 * (port=1 is /dev/ttyS0 on Linux, COM1 on Windows; on Linux DORVANE_COM1=/dev/ttyUSB0 points it
 * elsewhere.) Build against the installed driver with pkg-config:
 *
 *   cc acquire_one.c $(pkg-config --cflags --libs dorvane) -o acquire_one
 *
 * or in CMake with find_package(dorvane) and target_link_libraries(acquire_one dorvane::dorvane).
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "dorvane_helpers.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

/* A file of a few scans takes seconds; a bench that has sent nothing for two minutes is gone. */
#define WAIT_FOR_FILE_MS 120000

/* The driver signals the co-add event after each file: a Win32 event on Windows, an eventfd on
 * Linux (passed to the driver as a pointer-sized handle). */
#ifdef _WIN32
typedef HANDLE coadd_event;
static coadd_event coadd_event_create(void) { return CreateEventA(NULL, FALSE, FALSE, NULL); }
static int coadd_event_valid(coadd_event event) { return event != NULL; }
static dorvane_event_handle coadd_event_handle(coadd_event event) { return event; }
static int coadd_event_wait(coadd_event event, int timeout_ms) {
  return WaitForSingleObject(event, (DWORD)timeout_ms) == WAIT_OBJECT_0;
}
static void coadd_event_close(coadd_event event) { CloseHandle(event); }
#else
typedef int coadd_event;
static coadd_event coadd_event_create(void) { return eventfd(0, EFD_CLOEXEC); }
static int coadd_event_valid(coadd_event event) { return event >= 0; }
static dorvane_event_handle coadd_event_handle(coadd_event event) { return (dorvane_event_handle)(intptr_t)event; }
static int coadd_event_wait(coadd_event event, int timeout_ms) {
  struct pollfd readable = {event, POLLIN, 0};
  uint64_t count = 0;
  if (poll(&readable, 1, timeout_ms) != 1) return 0;
  return read(event, &count, sizeof count) == (ssize_t)sizeof count; /* reading resets it */
}
static void coadd_event_close(coadd_event event) { close(event); }
#endif

/* One line naming the call, its result and the driver's phrase for it. */
static void report(const char* call, int32_t result) {
  fprintf(stderr, "acquire_one: %s returned %d: %s\n", call, (int)result, dorvane_error_text(result));
}

/* Opens the bench, acquires one file of four scans and fetches it into *volts (malloc'ed, *points
 * long). Returns 0, or 1 after one line on stderr. The caller closes the driver in either case. */
static int acquire_file(coadd_event event, double** volts, int32_t* points, double* timestamp) {
  int32_t result;
  /* Open reads the bench's setup; initialise sends it the scan settings (points, gain, ...). */
  if ((result = spectrometer_open(0)) != 0) {
    report("spectrometer_open", result);
    return 1;
  }
  if ((result = spectrometer_initialize()) != 0) {
    report("spectrometer_initialize", result);
    return 1;
  }
  spectrometer_setCoaddCompleteEventHandle(coadd_event_handle(event));
  spectrometer_setFiles(1);
  spectrometer_setScans(4);

  /* The acquisition runs on the driver's own thread; the event says when the file is in. */
  if (spectrometer_startCoadd() != 0) {
    fprintf(stderr, "acquire_one: spectrometer_startCoadd returned 1: the acquisition did not start "
                    "(set log=1 in the settings: the driver's log names the cause)\n");
    return 1;
  }
  if (!coadd_event_wait(event, WAIT_FOR_FILE_MS)) {
    fprintf(stderr, "acquire_one: no file within %d s: is the bench on and connected?\n", WAIT_FOR_FILE_MS / 1000);
    return 1;
  }
  /* The event is also signalled when a scan could not start: then no file was finished. */
  if (spectrometer_getFileProgress() < 1) {
    fprintf(stderr, "acquire_one: the acquisition ended without a file "
                    "(set log=1 in the settings: the driver's log names the cause)\n");
    return 1;
  }

  *points = spectrometer_getPoints();
  *volts = *points > 0 ? malloc((size_t)*points * sizeof **volts) : NULL;
  if (*volts == NULL) {
    fprintf(stderr, "acquire_one: no room for %d points\n", (int)*points);
    return 1;
  }
  if ((result = spectrometer_getData(*volts, *points, timestamp)) != 0) {
    report("spectrometer_getData", result);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  char command[4096];
  coadd_event event;
  int failed;
  int32_t points = 0, i;
  double* volts = NULL;
  double timestamp = 0.0, lowest, highest;
  time_t seconds;
  struct tm* utc;
  char when[32] = "?";

  if (argc != 2) {
    fprintf(stderr, "usage: acquire_one SETTINGS.ini\n");
    return 2;
  }
  /* The settings are loaded by a command string: "@" and the file's path. A file that cannot be
   * read leaves the port unset, which spectrometer_open then reports. */
  if (snprintf(command, sizeof command, "@%s", argv[1]) >= (int)sizeof command) {
    fprintf(stderr, "acquire_one: the settings path is longer than %d characters\n", (int)sizeof command - 2);
    return 2;
  }
  spectrometer_execute(command);

  event = coadd_event_create();
  if (!coadd_event_valid(event)) {
    fprintf(stderr, "acquire_one: the co-add event could not be created\n");
    return 1;
  }
  failed = acquire_file(event, &volts, &points, &timestamp);
  /* Close stops an acquisition still running and frees the port; then the event can go. */
  spectrometer_close();
  coadd_event_close(event);
  if (failed) {
    free(volts);
    return 1;
  }

  lowest = highest = volts[0];
  for (i = 1; i < points; ++i) {
    if (volts[i] < lowest) lowest = volts[i];
    if (volts[i] > highest) highest = volts[i];
  }
  /* The time stamp is in milliseconds since 1970-01-01 00:00:00 UTC. */
  seconds = (time_t)(timestamp / 1000.0);
  utc = gmtime(&seconds);
  if (utc != NULL) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", utc);
  printf("points: %d\n", (int)points);
  printf("volts: %.6f to %.6f\n", lowest, highest);
  printf("time: %s UTC\n", when);
  free(volts);
  return 0;
}
