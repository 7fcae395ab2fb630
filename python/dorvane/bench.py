"""Bench: the driver's one bench as a context manager, its settings, its acquisitions and its stored data."""
import configparser
import dataclasses
import ctypes
import datetime
import enum
import os
import re
import sys
import threading
import time
import warnings
from typing import NamedTuple, Optional

import numpy as np

from . import _library
from ._errors import (AcquisitionTimeout, DorvaneError, LibraryNotFound, OPEN_NO_PORT, OPEN_SETUP_NOT_RECEIVED,
                      OPEN_SETUP_NOT_SENT, driver_error, error_text)
from ._event import CoaddEvent
from .saving import InterferogramRecord, undersampling_of


class Status(enum.IntEnum):
    """spectrometer_getStatus's values (DORVANE_STATUS_* of dorvane.h): an int that says its name."""
    NEVER_OPENED = 0  # no open has succeeded since the library was loaded
    IDLE = 4          # open, and no acquisition runs
    ACQUIRING = 64    # an acquisition runs on the driver's thread and holds the serial port


STATUS_NEVER_OPENED = Status.NEVER_OPENED
STATUS_IDLE = Status.IDLE
STATUS_ACQUIRING = Status.ACQUIRING

# The driver holds a co-add of at most this many points (DORVANE_MOST_COADD_POINTS); a stored block
# may be larger, up to DORVANE_MOST_BLOCK_POINTS (the tests hold both to dorvane.h's).
MOST_COADD_POINTS = 65535
MOST_BLOCK_POINTS = 4194304
# The sizes getRemoteDataList and getSetup write into: DORVANE_REMOTE_DATA_LIST_SIZE and
# DORVANE_SETUP_TEXT_SIZE of dorvane.h (the tests hold them to the header's), and a terminator of
# our own.
REMOTE_DATA_LIST_SIZE = 6121
SETUP_TEXT_SIZE = 1483
_BLOCK_LIST_BYTES = REMOTE_DATA_LIST_SIZE + 1
_SETUP_BYTES = SETUP_TEXT_SIZE + 1
# The driver gives no event for its thread's end after the last file: it closes the port at once, so
# a short wait for its status covers it.
_THREAD_END_SECONDS = 5.0
_THREAD_END_STEP = 0.01

_open_bench = None  # the driver keeps one state per process: one Bench at a time
_open_lock = threading.Lock()


class Coadd(NamedTuple):
    """One acquired file: its number (from 1), the co-added interferogram in volts and its UTC time;
    record: the same with what the host's files say of it (dorvane.save writes it)."""
    index: int
    volts: np.ndarray
    time: datetime.datetime
    record: Optional[InterferogramRecord] = None


class StoredBlock(NamedTuple):
    """One block in the bench's memory as getRemoteDataList lists it (the bench gives no year)."""
    index: int
    text: str      # the driver's line, e.g. "Tue Mar 14 15:09:26:07"
    month: Optional[int]
    day: Optional[int]
    time: Optional[datetime.time]


_MONTHS = {name: number for number, name in enumerate(
    ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"), start=1)}
_BLOCK_LINE = re.compile(r"^\w{3} (\w{3}) +(\d{1,2}) (\d{2}):(\d{2}):(\d{2}):(\d{2})$")


def parse_block_list(text):
    """getRemoteDataList's text as StoredBlocks; a line of another shape keeps its text, its date None."""
    blocks = []
    for index, line in enumerate(line for line in text.replace("\r", "").split("\n") if line.strip()):
        line = line.strip()
        found = _BLOCK_LINE.match(line)
        month = _MONTHS.get(found.group(1)) if found else None
        when = None
        if month:
            hour, minute, second, hundredths = (int(found.group(n)) for n in range(3, 7))
            if hour < 24 and minute < 60 and second < 60:
                when = datetime.time(hour, minute, second, hundredths * 10000)
        blocks.append(StoredBlock(index, line, month, int(found.group(2)) if month else None, when))
    return blocks


def parse_setup(text):
    """getSetup's text ("Bench Setup:" and one "name value 0xHEX" field a line, the value in decimal) as
    {name: value}."""
    fields = {}
    for line in text.splitlines():
        words = line.replace("Bench Setup:", "", 1).split()
        if len(words) >= 2:
            try:
                fields[words[0]] = int(words[1])
            except ValueError:
                fields[words[0]] = words[1]
    return fields


def _leading_integer(value):
    # The driver reads a value's leading number and nothing else, a missing one as 0.
    found = re.match(r"\s*[-+]?\d+", value or "")
    return int(found.group()) if found else 0


def _read_settings(path):
    """The [Settings] of the file the driver will read; refuses one the driver would take wrongly."""
    parser = configparser.ConfigParser(strict=False, inline_comment_prefixes=(";", "#"), interpolation=None)
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            parser.read_file(file)
    except OSError as failure:
        raise DorvaneError(None, None, None, "cannot read the settings file %s: %s" % (path, failure.strerror)) from None
    except configparser.Error as failure:
        raise DorvaneError(None, None, None, "the settings file %s cannot be read as INI: %s" % (path, failure)) from None
    if not parser.has_section("Settings"):
        raise DorvaneError(None, None, None, "the settings file %s has no [Settings] section" % path)
    settings = parser["Settings"]
    for key in ("port", "baud"):
        if key not in settings:
            raise DorvaneError(None, None, None, "the settings file %s has no %s= in [Settings]; the driver would "
                                                 "take 0" % (path, key))
    return {key: _leading_integer(value) for key, value in settings.items()}


def _device_of(port):
    """The serial device the driver opens for the settings' port (numbered from 1)."""
    if sys.platform == "win32":
        return r"\\.\COM%d" % port
    return os.environ.get("DORVANE_COM%d" % port) or "/dev/ttyS%d" % (port - 1)


def _driver_setting(name, kind, doc):
    """A setting with a getter and a setter export; it reaches the bench at the next initialise or acquisition."""
    def get(self):
        return kind(getattr(self._driver, "spectrometer_get" + name)())

    def put(self, value):
        getattr(self._driver, "spectrometer_set" + name)(kind(value))
    return property(get, put, doc=doc)


class Bench:
    """The bench the settings file names, opened and initialised; closed on leaving a `with` block.

    with dorvane.Bench("bench.ini") as bench:
        for coadd in bench.acquire(files=3, scans=16):
            ...
    """

    def __init__(self, settings_path):
        global _open_bench
        self._driver = _library.driver.get()
        self._settings_path = os.path.abspath(os.fspath(settings_path))
        settings = _read_settings(self._settings_path)
        with _open_lock:
            if _open_bench is not None:
                raise DorvaneError(None, None, None, "a Bench is already open in this process (the driver drives one "
                                                     "bench): close it, or leave its with block, first")
            _open_bench = self
        self._open = True
        self._acquiring = False
        self._device = _device_of(settings["port"])
        self._points = settings.get("points", 0)
        self._undersampling = undersampling_of(settings.get("lasersamp", 0))
        try:
            self._call_zero("spectrometer_execute", self._driver.spectrometer_execute(self._command("@" + self._settings_path)))
            result = self._driver.spectrometer_open(0)
            if result != 0:
                raise driver_error("spectrometer_open", result, self._open_failure(result, settings))
            result = self._driver.spectrometer_initialize()
            if result != 0:
                raise driver_error("spectrometer_initialize", result,
                                   "the bench did not take the scan settings" if result == 1 else None)
            self.identity = self._driver.spectrometer_execute(b"whoAreYou")
        except BaseException:
            self.close()
            raise

    def _open_failure(self, result, settings):
        device = self._device
        if result == OPEN_NO_PORT:
            return "%s does not exist (the settings' port=%d%s)" % (
                device, settings["port"], "" if sys.platform == "win32" else
                "; DORVANE_COM%d may name the device" % settings["port"])
        if result in (OPEN_SETUP_NOT_SENT, OPEN_SETUP_NOT_RECEIVED):
            return "the bench on %s did not send its setup (is it on, connected, and set to %d baud?)" % (
                device, settings["baud"])
        return "%s: %s" % (device, error_text(result))

    # ---- life ---------------------------------------------------------------------------------

    def close(self):
        """Stops any acquisition, closes the port and lets another Bench open. Safe to call twice."""
        global _open_bench
        if not getattr(self, "_open", False):
            return
        self._open = False
        self._driver.spectrometer_close()
        with _open_lock:
            if _open_bench is self:
                _open_bench = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    @property
    def closed(self):
        return not self._open

    def _check_open(self):
        if not self._open:
            raise DorvaneError(None, None, None, "the Bench is closed")

    @staticmethod
    def _command(text):
        return os.fsencode(text) if isinstance(text, str) else bytes(text)

    @staticmethod
    def _call_zero(export, result, detail=None):
        if result != 0:
            raise driver_error(export, result, detail)
        return result

    # ---- settings and state -------------------------------------------------------------------

    @property
    def points(self):
        """The points setting (per scan; the bench adds 64): the settings file's until set here."""
        return self._points

    @points.setter
    def points(self, value):
        self._points = self._driver.spectrometer_setPoints(int(value))

    scans = _driver_setting("Scans", int, "Scans the bench co-adds into each file.")
    files = _driver_setting("Files", int, "Files an acquisition takes; below 1, until it is stopped.")
    gain = _driver_setting("Gain", int, "The gain code (0 to 3).")
    resolution = _driver_setting("Resolution", float, "Kept for the host only: the driver does not send it to the bench.")

    @property
    def family(self):
        return (self.identity >> 16) & 0xFFFF

    @property
    def model(self):
        return self.identity & 0xFFFF

    @property
    def status(self):
        """Status.NEVER_OPENED, Status.IDLE or Status.ACQUIRING (ints 0, 4, 64); a value this binding
        does not know comes as a plain int."""
        value = self._driver.spectrometer_getStatus()
        try:
            return Status(value)
        except ValueError:
            return value

    @property
    def capabilities(self):
        return self._driver.spectrometer_getCapabilities()

    @property
    def coadd_points(self):
        """The newest co-add's length (0 before the first), not the points setting."""
        return self._driver.spectrometer_getPoints()

    def initialize(self):
        """Puts the settings (points, gain, ...) into the bench now rather than at the next acquisition."""
        self._check_open()
        result = self._driver.spectrometer_initialize()
        self._call_zero("spectrometer_initialize", result, "the bench did not take the scan settings" if result == 1 else None)

    @property
    def setup_text(self):
        """The bench's setup record as the driver writes it (getSetup)."""
        self._check_open()
        text = ctypes.create_string_buffer(_SETUP_BYTES)
        result = self._driver.getSetup(text, 0)
        self._call_zero("getSetup", result, _text_of(text) if result > 0 else None)
        return _text_of(text)

    @property
    def setup(self):
        """The bench's setup record as {field name: value}."""
        return parse_setup(self.setup_text)

    # ---- command strings and stored data ------------------------------------------------------

    def execute(self, command):
        """Runs a command string and returns the driver's result, whose meaning is the command's (see
        dorvane.h: "shuttle 1" gives 1 moved, -1 not fitted, 0 failed). A negative serial code when the
        port does not open, and PORT_BUSY during an acquisition, raise DorvaneError."""
        self._check_open()
        command = self._command(command)
        if command.startswith(b"@"):
            raise ValueError("load settings by opening a Bench with them, not through execute")
        result = self._driver.spectrometer_execute(command)
        # -1 answers the queries and the moves ("not fitted", "failed"), and a motor's position may be
        # any number; every other command's results lie from -1 up, so a lower one is the port's code.
        first_word = (command.split(None, 1) or [b""])[0]
        if result < -1 and not first_word.lower().startswith(b"movemotor"):
            raise driver_error("spectrometer_execute", result, "%s: %s" % (command.decode(errors="replace"),
                                                                           error_text(result)))
        return result

    def stored_blocks(self):
        """The blocks in the bench's memory, newest first (index 0 for fetch)."""
        self._check_open()
        text = ctypes.create_string_buffer(_BLOCK_LIST_BYTES)
        result = self._driver.getRemoteDataList(text)
        self._call_zero("getRemoteDataList", result, _text_of(text).strip() or None)
        return parse_block_list(_text_of(text))

    def fetch(self, index):
        """Block `index` of stored_blocks() from the bench's memory, in volts."""
        self._check_open()
        values = np.empty(MOST_BLOCK_POINTS, dtype=np.float64)
        count = ctypes.c_int32(0)
        result = self._driver.getRemoteData(int(index), _doubles(values), ctypes.byref(count))
        self._call_zero("getRemoteData", result, "the block could not be retrieved" if result == 1 else None)
        if not 0 < count.value <= len(values):
            raise DorvaneError("getRemoteData", result, None, "getRemoteData reported %d points" % count.value)
        return values[:count.value].copy()

    # ---- acquisition --------------------------------------------------------------------------

    def acquire(self, files=None, scans=None, timeout=300.0):
        """Acquires `files` files (below 1: until the loop ends) of `scans` scans each, yielding each
        Coadd as it arrives. Leaving the loop early, an exception in it or Ctrl-C stops the
        acquisition; `timeout` (seconds, None for none) bounds the wait for each file."""
        self._check_open()
        if self._acquiring:
            raise DorvaneError(None, None, None, "this Bench is already acquiring")
        if files is not None:
            self.files = files
        if scans is not None:
            self.scans = scans
        return self._acquisition(self.files, timeout)

    def _acquisition(self, files, timeout):
        if self._acquiring:
            raise DorvaneError(None, None, None, "this Bench is already acquiring")
        driver = self._driver
        # What every file's record says of the acquisition, asked while the port is still the Bench's:
        # the settings put into the bench first, so that its setup is the one the files are taken with.
        self.initialize()
        plan = InterferogramRecord(volts=None, scans=self.scans, bench_identity=self.identity, setup_text=self.setup_text,
                                   laser_wavenumber=_default_laser_wavenumber(), undersampling=self._undersampling)
        event = CoaddEvent()
        self._acquiring = True
        finished = False
        try:
            driver.spectrometer_setCoaddCompleteEventHandle(event.handle)
            started_ms = _wall_clock_ms()
            result = driver.spectrometer_startCoadd()
            self._call_zero("spectrometer_startCoadd", result,
                            "the acquisition did not start (the bench did not start its first scan, the port "
                            "did not open, or one already runs: the driver's log tells which)")
            volts = np.empty(MOST_COADD_POINTS, dtype=np.float64)
            stamp = ctypes.c_double(0)
            seen, last_stamp = 0, None
            deadline = None if timeout is None else time.monotonic() + timeout
            while files <= 0 or seen < files:
                left = None if deadline is None else deadline - time.monotonic()
                if left is not None and left <= 0:
                    raise AcquisitionTimeout("no file from the bench in %g s (%d of the acquisition's files came): "
                                             "it may have stopped answering; the acquisition is stopped"
                                             % (timeout, seen))
                if not event.wait(left):
                    continue
                complete = driver.spectrometer_getFileProgress()
                if complete <= seen:
                    if driver.spectrometer_getStatus() != STATUS_ACQUIRING:
                        raise DorvaneError(None, None, None, "the acquisition ended early (%d of its files came): "
                                                             "a scan did not start or the bench reported the block "
                                                             "failed (the driver's log tells which)" % seen)
                    continue
                deadline = None if timeout is None else time.monotonic() + timeout
                # Back to back, the bench begins the next file as soon as this one is done.
                file_started_ms, started_ms = started_ms, _wall_clock_ms()
                count = driver.spectrometer_getPoints()
                if driver.spectrometer_getData(_doubles(volts), MOST_COADD_POINTS, ctypes.byref(stamp)) != 0 or \
                        not 0 < count <= MOST_COADD_POINTS:
                    raise DorvaneError("spectrometer_getData", 1, None, "no co-add to fetch after the driver "
                                                                        "signalled one")
                if complete > seen + 1:
                    warnings.warn("%s (the driver keeps only the newest)" % _replaced_text(seen + 1, complete - seen - 1),
                                  stacklevel=2)
                seen = complete
                if stamp.value == last_stamp:
                    # The driver counts a file whose retrieval failed, but has no new co-add for it.
                    warnings.warn("file %d could not be retrieved from the bench; skipped" % seen, stacklevel=2)
                    continue
                last_stamp = stamp.value
                when = datetime.datetime.fromtimestamp(stamp.value / 1000.0, tz=datetime.timezone.utc)
                coadd = volts[:count].copy()
                record = dataclasses.replace(plan, volts=coadd, timestamp_ms=stamp.value, started_ms=file_started_ms,
                                             title="file %d" % seen + (" of %d" % files if files > 0 else ""),
                                             gain=int(driver.spectrometer_getGain()))
                yield Coadd(seen, coadd, when, record)
            finished = True
        finally:
            # One step a clause, so that a second Ctrl-C during the stop still lets the rest run.
            try:
                if finished:
                    self._await_thread_end()
                else:
                    driver.spectrometer_stop()
            finally:
                try:
                    # Only once the thread is gone may the descriptor go: the driver would write to its reuse.
                    driver.spectrometer_setCoaddCompleteEventHandle(None)
                finally:
                    event.close()
                    self._acquiring = False

    def _await_thread_end(self):
        waited_until = time.monotonic() + _THREAD_END_SECONDS
        while self._driver.spectrometer_getStatus() == STATUS_ACQUIRING:
            if time.monotonic() > waited_until:
                self._driver.spectrometer_stop()
                return
            time.sleep(_THREAD_END_STEP)

    def stop(self):
        """Stops a running acquisition (another thread's loop ends with the error of its next wait)."""
        return self._driver.spectrometer_stop()


def _replaced_text(first, count):
    """'file 2 was replaced by a newer one before it could be fetched', 'files 2 to 4 were ...', as the host says it."""
    if count == 1:
        return "file %d was replaced by a newer one before it could be fetched" % first
    return "files %d %s %d were replaced by newer ones before they could be fetched" % (
        first, "and" if count == 2 else "to", first + count - 1)


def _wall_clock_ms():
    return float(time.time_ns() // 1000000)


def _default_laser_wavenumber():
    """The spectra library's default reference laser, which the host's files record; None (unknown)
    when the library cannot be loaded, which acquiring does not need."""
    try:
        from .processing import default_options
        return default_options().laser_wavenumber
    except LibraryNotFound:
        return None


def _doubles(array):
    return array.ctypes.data_as(_library.DOUBLES)


def _text_of(buffer):
    return buffer.value.decode("latin-1")

