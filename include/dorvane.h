/**
 * @file
 * dorvane.h: the public interface of the dorvane FTIR bench driver (dorvane.dll, libdorvane.so).
 *
 * Every function uses the default C calling convention (cdecl; from Python's ctypes, load the
 * library with CDLL, not WinDLL) and carries its undecorated name. Nothing else is exported.
 *
 * The driver keeps one process-wide state and drives one bench on one serial port. Until the host
 * loads a settings file (spectrometer_execute with "@" and the file's path) the port is not set
 * and the log (dorvane_log.txt beside the library) is off.
 *
 * The exports that talk to the bench open the serial port for the call and close it after (an
 * acquisition holds it until it ends). The port is opened exclusively, on Linux as on Windows:
 * while one process holds it, the driver's opening in any other fails at once with
 * DORVANE_ERROR_PORT_IN_USE, and on Linux programs that take no lock on the device (minicom,
 * screen) cannot open it meanwhile unless they run as root.
 *
 * Debug lines: a few lines for a debugger (each command string, each stop of the acquisition
 * thread) go to OutputDebugStringA on Windows. On Linux they go to standard error only while the
 * environment variable DORVANE_DEBUG is set to a non-empty value; it is read at every line, so a
 * host may set it after loading the library.
 *
 * How long a call may take. Every wait of the driver is bounded by the protocol's own limits (2 s
 * for a byte, 10 s of SRQ bytes, ten sends of a packet, eleven of a message on RETRY, one RETRY of
 * a reply, 31 busy polls, 30 s for a scan to start, the 10 s settling of the shuttle and mirror).
 * Whatever the bench sends, each call returns within this much line time, plus at most 45 s for
 * each packet of the bench's replies (the bench decides how long they are); a bench that answers
 * at once takes a small part of it:
 * @code{.unparsed}
 *   spectrometer_open, getSetup, getRemoteDataList, and "shuttle", "mirror", "iris" as queries
 *                                                             11,971 s (3 h 20 min)
 *   getRemoteData                                             35,911 s (10 h)
 *   spectrometer_initialize                                  395,054 s (110 h)
 *   the moves of spectrometer_execute ("shuttle N", "mirror N", "iris N")   394,940 s (110 h)
 *   "movemotor [M]" 383,050 s (106 h); "reset" 754,039 s (210 h); "movemotor M S" 766,009 s (213 h)
 *   spectrometer_startCoadd, to its return                   442,875 s (123 h)
 * @endcode
 * The other exports do not wait on the bench; spectrometer_stop's bound is its own (below). The
 * fuzz target export_liveness holds each call to its bound (fuzz/export_bounds.h derives them).
 *
 * dorvane.dll: the acquisition thread holds a reference on the DLL while it runs, so a FreeLibrary
 * during an acquisition leaves the DLL loaded and acquiring (load it again to stop it). Stop or
 * close before unloading.
 *
 * This header holds declarations and constants only, so that it compiles as C89 and later and as
 * C++98 and later, and FFI readers that take declarations only (cffi's cdef, MATLAB's loadlibrary)
 * read it. The helpers a C or C++ host may use beside the exports (dorvane_error_text, the command
 * reader, the serial device of a port) are static inline functions in dorvane_helpers.h, which
 * includes this header.
 *
 * For an FFI reader that wants plain declarations after the preprocessor, define
 * DORVANE_DECLARATIONS_ONLY: the header then includes no system header (int32_t is left for the
 * reader, which knows it) and marks the functions with no attribute or calling convention, e.g.
 * `gcc -E -P -DDORVANE_DECLARATIONS_ONLY dorvane.h` for cffi's cdef. The named numbers are
 * `#define`s, which the preprocessor removes: `gcc -E -dM` lists them.
 */
#ifndef DORVANE_H
#define DORVANE_H

#if !defined(DORVANE_DECLARATIONS_ONLY)
#  include <stdint.h>
#endif

/** @def DORVANE_API
 * Marks an export: dllexport while the DLL is built (DORVANE_BUILDING_LIBRARY), dllimport in its
 * hosts; on Linux, default visibility in a library that hides everything else; nothing with
 * DORVANE_DECLARATIONS_ONLY. */
/** @def DORVANE_CALL
 * Every export's calling convention: cdecl on Windows, the platform's C convention elsewhere;
 * nothing with DORVANE_DECLARATIONS_ONLY. */
#if defined(DORVANE_DECLARATIONS_ONLY)
#  define DORVANE_API
#  define DORVANE_CALL
#elif defined(_WIN32)
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

/**
 * @name Result codes that the driver adds to those of the bench protocol
 * @{
 */
/** A scan was started but the bench did not announce it (or did not stamp its data block) within
 * 30 seconds, or the status could not be read while waiting. */
#define DORVANE_ERROR_NO_NEW_SRQ (-23)
/** The export was given a NULL pointer where it writes its results; nothing was done. */
#define DORVANE_ERROR_NULL_POINTER (-24)
/** Another program has the serial device open. Close it first. */
#define DORVANE_ERROR_PORT_IN_USE (-25)
/** The user may not open the serial device. On Linux, add the user to the device's group (often
 * dialout) and log in again. */
#define DORVANE_ERROR_PORT_DENIED (-26)
/** The port's path names a file, a directory or a device that is not a serial port. Check the
 * settings' port (and DORVANE_COM<n> on Linux). */
#define DORVANE_ERROR_NOT_A_SERIAL_PORT (-27)
/** getRemoteData was given an index outside the list of blocks that the bench holds; no data was
 * requested. */
#define DORVANE_ERROR_NO_SUCH_BLOCK (-30)
/** An acquisition holds the serial port; the export did not touch it. Stop the acquisition (or
 * wait for its end) first. An acquisition that has already signalled its last file (or its early
 * end) is not running any more: an export called then waits for its thread to close the port (up to
 * 5 s) instead of being refused. */
#define DORVANE_ERROR_PORT_BUSY (-31)
/** @} */

/**
 * @name Values of spectrometer_getStatus
 * @{
 */
/** No spectrometer_open has succeeded since the library was loaded. */
#define DORVANE_STATUS_NEVER_OPENED 0
/** A spectrometer_open has succeeded and no acquisition runs. */
#define DORVANE_STATUS_IDLE 4
/** An acquisition runs on the driver's thread and holds the serial port. */
#define DORVANE_STATUS_ACQUIRING 64
/** @} */

/**
 * An event the driver signals. On Windows a Win32 event handle (signalled with SetEvent); on
 * Linux a writable file descriptor, normally an eventfd, cast to a pointer: the driver writes the
 * 8-byte value 1 to it and the host resets it by reading. NULL (0) means no event. The driver
 * never creates, resets or closes it.
 */
typedef void* dorvane_event_handle;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Open, initialise and close ------------------------------------------------------------ */

/**
 * @name spectrometer_open's own failures
 * Besides these, spectrometer_open returns the serial layer's other negative codes when the port
 * does not open and DORVANE_ERROR_PORT_BUSY during an acquisition.
 * @{
 */
/** No port to open: none is set (load a settings file with a port first; nothing was touched), or
 * the serial layer knows no such port (on Linux, no device at the port's path). */
#define DORVANE_OPEN_NO_PORT (-1)
/** The port opened but the request for the bench's setup could not be sent. */
#define DORVANE_OPEN_SETUP_NOT_SENT (-2)
/** The port opened and the request was sent, but the bench's setup could not be received. */
#define DORVANE_OPEN_SETUP_NOT_RECEIVED (-3)
/** @} */

/**
 * Reads the bench's setup record, identifies the bench and prepares the acquisition object.
 * `id` is written to the log only. Returns 0; DORVANE_OPEN_NO_PORT when no port is set (load the
 * settings first) or there is no such port; the serial layer's other negative codes when the port
 * does not open (opened exclusively, on Linux too: DORVANE_ERROR_PORT_IN_USE while another program
 * has it); DORVANE_OPEN_SETUP_NOT_SENT or DORVANE_OPEN_SETUP_NOT_RECEIVED when the setup could not
 * be read; DORVANE_ERROR_PORT_BUSY during an acquisition.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_open(int32_t id);

/**
 * Builds the scan settings from the settings, points, gain and scans, and puts them into the
 * bench. Returns 0; 1 when the bench did not take them; the serial layer's negative code when the
 * port does not open; DORVANE_ERROR_PORT_BUSY during an acquisition.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_initialize(void);

/** Stops a running acquisition, releases the acquisition object and closes the port. Returns 1. */
DORVANE_API int32_t DORVANE_CALL spectrometer_close(void);

/* ---- Co-added acquisition ------------------------------------------------------------------- */

/**
 * Starts an acquisition of spectrometer_getFiles() files (below 1: until stopped) of
 * spectrometer_getScans() scans each, on the driver's own thread, and returns once the first scan
 * has started. After each file the co-add event is signalled; spectrometer_getData then copies
 * it. The event is also signalled when the acquisition ends early because a scan could not start
 * or the bench reports a file's block failed; spectrometer_getFileProgress then shows no new file
 * and spectrometer_getStatus DORVANE_STATUS_IDLE. A bench that stops answering while a scan runs is
 * asked again until spectrometer_stop, with no event and the status still acquiring (a noisy line
 * loses single polls): bound the wait for each file. Returns 0 when the acquisition runs; 1 otherwise
 * (also when one is already running, and when the port does not open: the log names the serial
 * layer's code).
 *
 * Back to back: a host may start the next acquisition as soon as the previous one's last file is
 * signalled (or spectrometer_getFileProgress reaches spectrometer_getFiles()) and fetched. That
 * acquisition's thread is then only closing the port; this call waits for it (up to 5 s, in practice
 * well under a millisecond) and is never refused for it. Only an acquisition still running, one with
 * files left or started for files until stopped, makes it return 1 at once, with
 * spectrometer_getStatus() still DORVANE_STATUS_ACQUIRING: the driver's refusal, not the bench's.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_startCoadd(void);

/**
 * Ends the acquisition: the file in progress is dropped (a retrieval is ended with ABORT, a scan
 * with STOP SCAN) and the bench is left ready for the next call. The thread sees the stop within
 * 100 ms; the call then rests 1000 ms and returns, in about 1.1 to 1.3 s at 38400 baud. A thread
 * that does not end within 5000 ms has its serial calls cut short. Returns 0 when an acquisition
 * thread was stopped; 1 when none was ever started.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_stop(void);

/** The most points a co-add may have: the driver stores a co-add of up to 65,535 values and not a
 * longer one (the bench adds 64 points to the points setting). A spectrometer_getData buffer of
 * this many elements holds any co-add. */
#define DORVANE_MOST_COADD_POINTS 65535

/**
 * Copies the newest co-add, in volts, into `buffer` (`pts` elements; elements past the co-add's
 * length are set to 0.0) and its time, in milliseconds since 1970-01-01 00:00:00 UTC, into
 * `*timestamp`. Returns 0; 1 when no co-add is stored yet, `pts` is shorter than the co-add
 * (spectrometer_getPoints() tells its length; `buffer` is then zeroed), or a pointer is NULL.
 * It does not consume: a second call returns the same co-add.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_getData(double* buffer, int32_t pts, double* timestamp);

/** Scans finished in the current file (all at once: the bench reports no per-scan progress). */
DORVANE_API int32_t DORVANE_CALL spectrometer_getScanProgress(void);
/** Files finished in the current acquisition. */
DORVANE_API int32_t DORVANE_CALL spectrometer_getFileProgress(void);
/** DORVANE_STATUS_NEVER_OPENED, DORVANE_STATUS_IDLE or DORVANE_STATUS_ACQUIRING. */
DORVANE_API int32_t DORVANE_CALL spectrometer_getStatus(void);

/* ---- Acquisition parameters and notifications ----------------------------------------------- */

/** Always 0. */
DORVANE_API int32_t DORVANE_CALL spectrometer_getCapabilities(void);
/** The newest co-add's time in milliseconds since the epoch; 0.0 before the first. */
DORVANE_API double DORVANE_CALL spectrometer_getTimestamp(void);

/**
 * @name Settings of the next acquisition
 * The setters store their value (no range check) and return what they stored; the value reaches
 * the bench at the next spectrometer_initialize (scans: at the next spectrometer_startCoadd).
 * The gain is an integer code: its fraction is dropped. The resolution is kept for the host only.
 * @{
 */
/** The gain code stored. */
DORVANE_API double DORVANE_CALL spectrometer_getGain(void);
/** Stores the gain code (the fraction dropped) and returns it. */
DORVANE_API double DORVANE_CALL spectrometer_setGain(double gain);
/** The resolution stored, for the host. */
DORVANE_API double DORVANE_CALL spectrometer_getResolution(void);
/** Stores the resolution, for the host only, and returns it. */
DORVANE_API double DORVANE_CALL spectrometer_setResolution(double resolution);
/** The length of the newest co-add (0 before the first), not the points setting. */
DORVANE_API int32_t DORVANE_CALL spectrometer_getPoints(void);
/** Stores the points per scan and returns them. */
DORVANE_API int32_t DORVANE_CALL spectrometer_setPoints(int32_t points);
/** The scans co-added into each file. */
DORVANE_API int32_t DORVANE_CALL spectrometer_getScans(void);
/** Stores the scans co-added into each file and returns them. */
DORVANE_API int32_t DORVANE_CALL spectrometer_setScans(int32_t scans);
/** The files of the next acquisition (below 1: until stopped). */
DORVANE_API int32_t DORVANE_CALL spectrometer_getFiles(void);
/** Stores the files of the next acquisition (below 1: until stopped) and returns them. */
DORVANE_API int32_t DORVANE_CALL spectrometer_setFiles(int32_t files);
/** @} */

/** Stored for the host and never signalled. Returns 0. */
DORVANE_API int32_t DORVANE_CALL spectrometer_setScanCompleteEventHandle(dorvane_event_handle event);
/** The event signalled after each file, and when a scan fails to start. Returns 0. */
DORVANE_API int32_t DORVANE_CALL spectrometer_setCoaddCompleteEventHandle(dorvane_event_handle event);

/* ---- Command strings ------------------------------------------------------------------------ */

/**
 * Runs one text command and returns a value whose meaning depends on the command.
 *
 * "@" followed by a path loads the settings from that INI file, section [Settings], integer keys
 * fvel, rvel, symmetry, points, gain, lasersamp, lpf, port (1 for the first serial port), baud,
 * lturn, qturn, detector, iris and log (nonzero switches the log on). A key that is missing sets
 * its setting to 0 (a missing port leaves the port unset). Returns 0.
 *
 * The other commands (words compared without regard to case) open the port for the call:
 * @code{.unparsed}
 *   "shuttle", "iris", "mirror"      1 when that accessory is fitted, 0 if not, -1 on failure
 *   "shuttle N", "mirror N"          move to position 1 (N not 0) or 2 (N 0): 1 moved, -1 not
 *                                    fitted, 0 failed
 *   "iris N"                         set the aperture to N: 1 done (or no iris), 0 failed
 *   "movemotor M S"                  move motor M (0 first, else second) by S steps: its new
 *                                    position, 0 on failure
 *   "movemotor [M]"                  the motor's position, -1 when unknown
 *   "reset"                          reset the bench: 1 on success
 *   "whoAreYou"                      (family << 16) | model of the bench found at open
 * @endcode
 * Whatever follows N, or M S, is ignored; "reset" and "whoAreYou" stand alone. dorvane_read_command
 * in dorvane_helpers.h reads a command as the driver does.
 * Anything else returns 0 (as does a NULL command); the serial layer's negative code when the
 * port does not open; DORVANE_ERROR_PORT_BUSY during an acquisition.
 */
DORVANE_API int32_t DORVANE_CALL spectrometer_execute(const char* command);

/* ---- Remote data and setup text ------------------------------------------------------------- */

/** The most points a stored block may have: getRemoteData refuses a longer one unread. */
#define DORVANE_MOST_BLOCK_POINTS 4194304

/** The bytes getRemoteDataList's text must hold: 255 lines of 24 characters and the terminator. */
#define DORVANE_REMOTE_DATA_LIST_SIZE 6121

/** The bytes getSetup's text must hold: at most 1482 characters and the terminator. */
#define DORVANE_SETUP_TEXT_SIZE 1483

/**
 * Fetches block `index` (0 for the first that getRemoteDataList lists) from the bench's memory
 * as volts: `values` must have room for all its points, DORVANE_MOST_BLOCK_POINTS at the most;
 * `*count` receives their number.
 * `*count` is 0 unless 0 is returned. Returns 0; DORVANE_ERROR_NO_SUCH_BLOCK for an index
 * outside the list; the serial layer's code when the port does not open; otherwise the link's
 * error code, or 1 when the link recorded none; DORVANE_ERROR_NULL_POINTER;
 * DORVANE_ERROR_PORT_BUSY during an acquisition.
 */
DORVANE_API int32_t DORVANE_CALL getRemoteData(int32_t index, double* values, int32_t* count);

/**
 * Writes one line per block in the bench's memory ("Tue Mar 14 15:09:26:07\r\n": weekday, month,
 * day, time and hundredths; 24 characters each, at most 255 lines) into `text`, which must hold
 * DORVANE_REMOTE_DATA_LIST_SIZE (6121) bytes. Returns 0; 1 when the status could not be read
 * ("error N getting setup" is then the text); the serial layer's code when the port does not open
 * ("serial comm. error N ");
 * DORVANE_ERROR_NULL_POINTER; DORVANE_ERROR_PORT_BUSY during an acquisition (a line says so).
 */
DORVANE_API int32_t DORVANE_CALL getRemoteDataList(char* text);

/**
 * Writes the bench's setup record as text into `text`, which must hold DORVANE_SETUP_TEXT_SIZE
 * (1483) bytes: "Bench Setup:" and the first field on the first line, then one "  name value 0xHEX"
 * line per field. The integer is ignored. Returns 0; the setup request's nonzero result when it failed ("error N
 * getting setup" is then the text); the serial layer's code when the port does not open;
 * DORVANE_ERROR_NULL_POINTER; DORVANE_ERROR_PORT_BUSY during an acquisition (a line says so).
 */
DORVANE_API int32_t DORVANE_CALL getSetup(char* text, int32_t ignored);

#ifdef __cplusplus
}
#endif

#endif /* DORVANE_H */
