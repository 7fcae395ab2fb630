"""DorvaneError and the driver's phrase for each result code, as dorvane_error_text in dorvane_helpers.h gives it."""

# dorvane_error_text is a static inline function of dorvane_helpers.h, not an export, so the binding keeps
# its own copy; tests/python/test_errors.py holds it to the header's, code for code.
_DRIVER_PHRASES = {
    0: "no error",
    -1: "no such serial port, or no port set in the settings",
    -2: "the request for the bench's setup could not be sent",
    -3: "the bench's setup could not be received, or the serial port is not open",
    -4: "the bench refused a packet ten times, or the serial queues could not be allocated",
    -5: "the bench did not answer a packet",
    -6: "the bench aborted a message",
    -7: "a message could not be sent to the bench",
    -8: "the serial receive queue overflowed",
    -9: "a character overrun on the serial line",
    -10: "a parity error on the serial line, or the serial device refused to open",
    -11: "a framing error on the serial line, or a line format the port does not offer",
    -12: "a break on the serial line, or a baud rate the port does not offer",
    -13: "the serial transmit queue is full",
    -14: "the serial port is in an invalid mode",
    -15: "a serial line error",
    -16: "a block read failed: the serial port is not open",
    -17: "a block read failed: no such serial port",
    -18: "the bench's status could not be read",
    -19: "the bench rejected the command",
    -20: "the bench reports a communication error",
    -21: "the bench reports a hardware error",
    -22: "the bench must be initialised again",
    -23: "the bench did not announce the scan within 30 seconds",
    -24: "a NULL pointer was passed for a result",
    -25: "the serial device is in use by another program",
    -26: "the serial device may not be opened: permission denied",
    -27: "the device is not a serial port",
    -28: "the scan of the data block failed",
    -29: "the processing of the data block failed",
    -30: "no such block in the bench's memory",
    -31: "an acquisition holds the serial port",
    -100: "no data is waiting on the serial port",
    -101: "a serial port argument is out of range",
    -103: "a system call on the serial port failed",
}
_UNKNOWN = "an unknown error"

# The codes dorvane.h names: spectrometer_open's own failures, and those the driver adds.
OPEN_NO_PORT = -1
OPEN_SETUP_NOT_SENT = -2
OPEN_SETUP_NOT_RECEIVED = -3
NO_NEW_SRQ = -23
NULL_POINTER = -24
PORT_IN_USE = -25
PORT_DENIED = -26
NOT_A_SERIAL_PORT = -27
NO_SUCH_BLOCK = -30
PORT_BUSY = -31


def error_text(code):
    """The driver's phrase for a result code (dorvane_error_text); never None."""
    return _DRIVER_PHRASES.get(code, _UNKNOWN)


class DorvaneError(Exception):
    """A failure of the driver, the spectra library or the binding.

    export: the C function that failed, or None when the binding itself gives up (a time-out, an
    acquisition that ended early, a second Bench).
    code: its result, or None.
    phrase: the library's own phrase for the code (dorvane_error_text, dorvane_spectra_error_text), or None.
    """

    def __init__(self, export, code, phrase=None, detail=None):
        self.export, self.code, self.phrase = export, code, phrase
        if export is None:
            message = detail or phrase or "dorvane failed"
        else:
            message = "%s returned %s: %s" % (export, code, detail or phrase)
            if detail and phrase and phrase not in detail:
                message += " (%s)" % phrase
        super().__init__(message)


def driver_error(export, code, detail=None):
    return DorvaneError(export, code, error_text(code), detail)


class AcquisitionTimeout(DorvaneError, TimeoutError):
    """No file came from the bench within the acquisition's time-out; the acquisition is stopped."""

    def __init__(self, detail):
        DorvaneError.__init__(self, None, None, None, detail)


class LibraryNotFound(OSError):
    """The driver's or the spectra library could not be loaded; the message says where it was looked for."""
