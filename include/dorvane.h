/*
 * dorvane.h: the public interface of the dorvane FTIR bench driver (dorvane.dll, libdorvane.so).
 *
 * Every function uses the default C calling convention (cdecl; from Python's ctypes, load the
 * library with CDLL, not WinDLL) and carries its undecorated name. Nothing else is exported.
 *
 * The driver keeps one process-wide state and drives one bench on one serial port. Until the host
 * loads a settings file (spectrometer_execute with "@" and the file's path) the port is not set
 * and the log (dorvane_log.txt beside the library) is off.
 */
#ifndef DORVANE_H
#define DORVANE_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(DORVANE_BUILDING_LIBRARY)
#    define DORVANE_API __declspec(dllexport)
#  else
#    define DORVANE_API __declspec(dllimport)
#  endif
#  define DORVANE_CALL __cdecl
#else
#  define DORVANE_API __attribute__((visibility("default")))
#  define DORVANE_CALL
#endif

/*
 * Codes of the driver's link error word beyond those of the bench protocol itself.
 *
 * DORVANE_ERROR_NO_NEW_SRQ: a scan was started but the bench did not announce it (or did not
 * stamp its data block) within 30 seconds, or the status could not be read while waiting.
 */
#define DORVANE_ERROR_NO_NEW_SRQ (-23)

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Runs one text command and returns a value whose meaning depends on the command.
 *
 * "@" followed by a path loads the settings from that INI file, section [Settings], integer keys
 * fvel, rvel, symmetry, points, gain, lasersamp, lpf, port (1 for the first serial port), baud,
 * lturn, qturn, detector, iris and log (nonzero switches the log on). A key that is missing sets
 * its setting to 0 (a missing port leaves the port unset). Returns 0.
 *
 * Every other command is unrecognised in this version and returns 0 without touching the port.
 * A NULL command is treated the same way.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_execute(const char* command);

#ifdef __cplusplus
}
#endif

#endif /* DORVANE_H */
