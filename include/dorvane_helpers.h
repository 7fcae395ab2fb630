/**
 * @file
 * dorvane_helpers.h: what a C or C++ host of the dorvane driver may use beside its exports, as
 * static inline functions (nothing here is exported by the library): the phrase for a result code,
 * the command reader that spectrometer_execute itself uses, and the serial device the driver opens
 * for a port. It includes dorvane.h. It compiles as C89 and later and as C++98 and later.
 *
 * A host that used these from dorvane.h before they moved here includes dorvane_helpers.h instead.
 */
#ifndef DORVANE_HELPERS_H
#define DORVANE_HELPERS_H

#include <stddef.h>
#include <stdlib.h>

#include "dorvane.h"

/** @def DORVANE_HELPER
 * How each helper is defined: static inline, or what stands for it where C89 has no inline. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#  define DORVANE_HELPER static inline
#elif defined(__GNUC__)
#  define DORVANE_HELPER static __inline__
#elif defined(_MSC_VER)
#  define DORVANE_HELPER static __inline
#else
#  define DORVANE_HELPER static
#endif

/**
 * What a negative result (or error word) means, as one short phrase: the codes of the bench link,
 * of the bench's requests, of the serial layer and those above. Some numbers have two writers (the
 * serial layer opening the port, the link reading a block); the phrase names both. Never NULL.
 */
DORVANE_HELPER const char* dorvane_error_text(int32_t code) {
  switch (code) {
    case 0: return "no error";
    case -1: return "no such serial port, or no port set in the settings";
    case -2: return "the request for the bench's setup could not be sent";
    case -3: return "the bench's setup could not be received, or the serial port is not open";
    case -4: return "the bench refused a packet ten times, or the serial queues could not be allocated";
    case -5: return "the bench did not answer a packet";
    case -6: return "the bench aborted a message";
    case -7: return "a message could not be sent to the bench";
    case -8: return "the serial receive queue overflowed";
    case -9: return "a character overrun on the serial line";
    case -10: return "a parity error on the serial line, or the serial device refused to open";
    case -11: return "a framing error on the serial line, or a line format the port does not offer";
    case -12: return "a break on the serial line, or a baud rate the port does not offer";
    case -13: return "the serial transmit queue is full";
    case -14: return "the serial port is in an invalid mode";
    case -15: return "a serial line error";
    case -16: return "a block read failed: the serial port is not open";
    case -17: return "a block read failed: no such serial port";
    case -18: return "the bench's status could not be read";
    case -19: return "the bench rejected the command";
    case -20: return "the bench reports a communication error";
    case -21: return "the bench reports a hardware error";
    case -22: return "the bench must be initialised again";
    case DORVANE_ERROR_NO_NEW_SRQ: return "the bench did not announce the scan within 30 seconds";
    case DORVANE_ERROR_NULL_POINTER: return "a NULL pointer was passed for a result";
    case DORVANE_ERROR_PORT_IN_USE: return "the serial device is in use by another program";
    case DORVANE_ERROR_PORT_DENIED: return "the serial device may not be opened: permission denied";
    case DORVANE_ERROR_NOT_A_SERIAL_PORT: return "the device is not a serial port";
    case -28: return "the scan of the data block failed";
    case -29: return "the processing of the data block failed";
    case DORVANE_ERROR_NO_SUCH_BLOCK: return "no such block in the bench's memory";
    case DORVANE_ERROR_PORT_BUSY: return "an acquisition holds the serial port";
    case -100: return "no data is waiting on the serial port";
    case -101: return "a serial port argument is out of range";
    case -103: return "a system call on the serial port failed";
    default: return "an unknown error";
  }
}

/** The command a string is, as dorvane_read_command tells it. */
typedef enum dorvane_command_kind {
  DORVANE_COMMAND_UNKNOWN = 0, /**< none of the commands below */
  DORVANE_COMMAND_SETTINGS,    /**< "@" and a path: the settings load */
  DORVANE_COMMAND_SHUTTLE,     /**< "shuttle" */
  DORVANE_COMMAND_IRIS,        /**< "iris" */
  DORVANE_COMMAND_RESET,       /**< "reset" */
  DORVANE_COMMAND_MOVEMOTOR,   /**< "movemotor" */
  DORVANE_COMMAND_MIRROR,      /**< "mirror" */
  DORVANE_COMMAND_WHOAREYOU    /**< "whoAreYou" */
} dorvane_command_kind;

/** A command string as dorvane_read_command reads it. */
typedef struct dorvane_command {
  /** A command that begins with "@" is the settings load. Any other is compared, without regard
   * to case, with "shuttle", "iris", "reset", "movemotor", "mirror" and "whoAreYou" in that order,
   * and the first that matches is the command: "reset" and "whoAreYou" must be the whole string,
   * the others need only begin it ("irises 25" is the iris). A blank before the word, or a first
   * word longer than 63 characters, makes the command unknown. */
  dorvane_command_kind kind;
  /** How many of the first word and the two integers after it were read, the way the format
   * "%s %d %d" reads them: the reading stops at the first that is not there ("iris abc" reads 1
   * field, the iris query). */
  int32_t fields;
  /** The first integer read, 0 when not read; an integer beyond 32 bits reads as the nearest end
   * of that range. */
  int32_t first;
  /** The second integer read, likewise. */
  int32_t second;
} dorvane_command;

/** Helper of dorvane_read_command: a blank as isspace takes it in the C locale. */
DORVANE_HELPER int dorvane_command_blank_(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
/** Helper of dorvane_read_command: a decimal digit. */
DORVANE_HELPER int dorvane_command_digit_(char c) { return c >= '0' && c <= '9'; }
/** Helper of dorvane_read_command: an ASCII letter in lower case, any other character as it is. */
DORVANE_HELPER char dorvane_command_lower_(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

/** A decimal integer with an optional sign after optional blanks, as "%d" reads it; 0 when none. */
DORVANE_HELPER int dorvane_command_integer_(const char** at, int32_t* value) {
  const char* p = *at;
  int negative;
  int64_t limit;
  int64_t magnitude = 0;
  while (dorvane_command_blank_(*p)) ++p;
  negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!dorvane_command_digit_(*p)) return 0;
  limit = negative ? (int64_t)INT32_MAX + 1 : (int64_t)INT32_MAX;
  for (; dorvane_command_digit_(*p); ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) magnitude = limit;
  }
  *value = (int32_t)(negative ? -magnitude : magnitude);
  *at = p;
  return 1;
}

/**
 * How spectrometer_execute reads a command: the driver itself reads every command with
 * dorvane_read_command, so a host can tell which command a string is, and in which form, exactly
 * as the driver takes it (see dorvane_command for what each field holds).
 */
DORVANE_HELPER dorvane_command dorvane_read_command(const char* command) {
  static const struct dorvane_command_word_ {
    const char* word;
    int whole; /* the word must be the whole command, not only begin it */
    dorvane_command_kind kind;
  } words[] = {{"shuttle", 0, DORVANE_COMMAND_SHUTTLE}, {"iris", 0, DORVANE_COMMAND_IRIS},
               {"reset", 1, DORVANE_COMMAND_RESET},     {"movemotor", 0, DORVANE_COMMAND_MOVEMOTOR},
               {"mirror", 0, DORVANE_COMMAND_MIRROR},   {"whoAreYou", 1, DORVANE_COMMAND_WHOAREYOU},
               {0, 0, DORVANE_COMMAND_UNKNOWN}}; /* in the order they are tried */
  const struct dorvane_command_word_* entry;
  const char* at;
  const char* word_end;
  dorvane_command read = {DORVANE_COMMAND_UNKNOWN, 0, 0, 0};
  if (!command) return read;
  if (command[0] == '@') {
    read.kind = DORVANE_COMMAND_SETTINGS;
    return read;
  }
  for (entry = words; entry->word; ++entry) {
    const char* c = command;
    const char* w = entry->word;
    for (; *w != '\0' && dorvane_command_lower_(*c) == dorvane_command_lower_(*w); ++w) ++c;
    if (*w == '\0' && (!entry->whole || *c == '\0')) break;
  }
  /* A word that matched begins the command; a first word of more than 63 characters is none. */
  word_end = command;
  while (*word_end != '\0' && !dorvane_command_blank_(*word_end)) ++word_end;
  if (!entry->word || word_end - command > 63) return read;
  read.kind = entry->kind;
  read.fields = 1;
  at = word_end;
  if (dorvane_command_integer_(&at, &read.first)) {
    read.fields = 2;
    if (dorvane_command_integer_(&at, &read.second)) read.fields = 3;
  }
  return read;
}

/* ---- The serial device of a port ----------------------------------------------------------- */

/** Helper of dorvane_serial_device: appends `text` to the path, as much of it as fits, and counts
 * all of it. */
DORVANE_HELPER void dorvane_serial_device_append_(char* path, size_t size, size_t* length, const char* text) {
  for (; *text != '\0'; ++text, ++*length) {
    if (*length + 1 < size) path[*length] = *text;
  }
  if (size > 0) path[*length < size ? *length : size - 1] = '\0';
}

/** Helper of dorvane_serial_device: `value` (0 or more) in decimal. */
DORVANE_HELPER void dorvane_serial_device_number_(int32_t value, char digits[12]) {
  char reversed[12];
  int count = 0;
  int i;
  do {
    reversed[count++] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  digits[count] = '\0';
}

/**
 * The serial device the driver opens for the settings' `port` (the settings file's port=, 1 for
 * the first; the driver's log counts the same port from 0), named as the driver names it now: on
 * Linux the value of the environment variable `DORVANE_COM<port>` when it is set, else
 * `/dev/ttyS<port - 1>`; on Windows `\\.\COM<port>`. The driver reads the variable at every
 * opening, so this is the device its next opening tries.
 *
 * Writes as much of the path as fits, and its terminator, into `path` (`size` bytes; `path` may be
 * NULL when `size` is 0) and returns the path's whole length, as snprintf does: a result of `size`
 * or more means the path was cut short. Returns -1 (and writes "") for a port below 1, which
 * opens nothing.
 */
DORVANE_HELPER long dorvane_serial_device(int32_t port, char* path, size_t size) {
  char number[12];
  size_t length = 0;
#if !defined(_WIN32)
  char variable[24] = "DORVANE_COM";
  const char* named;
#endif
  if (size > 0) path[0] = '\0';
  if (port < 1) return -1;
  dorvane_serial_device_number_(port, number);
#if defined(_WIN32)
  dorvane_serial_device_append_(path, size, &length, "\\\\.\\COM");
#else
  length = sizeof "DORVANE_COM" - 1;
  dorvane_serial_device_append_(variable, sizeof variable, &length, number);
  length = 0;
  named = getenv(variable);
  if (named) {
    dorvane_serial_device_append_(path, size, &length, named);
    return (long)length;
  }
  dorvane_serial_device_number_(port - 1, number);
  dorvane_serial_device_append_(path, size, &length, "/dev/ttyS");
#endif
  dorvane_serial_device_append_(path, size, &length, number);
  return (long)length;
}

#endif /* DORVANE_HELPERS_H */
