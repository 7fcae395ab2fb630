"""read(path): an interferogram or a spectrum that the host (dorvane acquire, fetch, spectrum) saved as
CSV or JCAMP-DX, back as numpy arrays and a dict of its header, without the host or the libraries.

A file is untrusted: its size is bounded before it is read, every number and count is checked, and
whatever is wrong raises one ValueError that names the file and the fault.
"""
import math
import os
import re
import stat
from dataclasses import dataclass, field

import numpy as np

from . import saving
from .processing import RATIOS

# As the host's readers bound them: the most points the driver returns in one block, the spectrum of
# the largest transform the spectra library makes, and no file of either larger than 512 MiB.
_MOST_INTERFEROGRAM_POINTS = 4194304
_MOST_SPECTRUM_POINTS = (1 << 23) + 1
_LARGEST_FILE = 512 << 20
# Its JCAMP-DX interferogram's whole numbers stay below 2^53, where a double holds every integer.
_LARGEST_WHOLE = 1 << 53
# The shortest point each form can hold ("0,0\n", " 0", "0,\n", "0, ?\n"), against which a declared
# count is checked before room is made for it.
_SHORTEST_POINT = {("interferogram", "csv"): 4, ("interferogram", "jcamp-dx"): 2,
                   ("spectrum", "csv"): 3, ("spectrum", "jcamp-dx"): 5}

INTERFEROGRAM = "interferogram"
SPECTRUM_KINDS = ("single beam",) + RATIOS  # as dorvane.spectrum names them
_JCAMP_UNITS = {"ARBITRARY UNITS": "single beam", "TRANSMITTANCE": "transmittance", "ABSORBANCE": "absorbance"}

_CSV_INTERFEROGRAM = "# dorvane interferogram:"
_CSV_SPECTRUM = "# dorvane spectrum:"
_CSV_SERIES = "# dorvane series:"
_JCAMP_START = "##TITLE="
_JCAMP_TITLE_PREFIX = "dorvane interferogram, "

# Numbers as the host writes them (shortest round-trip text; JCAMP-DX with a capital E): no blanks,
# no "inf" or "nan", nothing after them.
_NUMBER = re.compile(r"-?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?\Z")
_WHOLE = re.compile(r"-?\d+\Z")
# A header value that is a number: alone, or followed by its unit (cm-1), by its own hexadecimal
# form (a setup field's "5 0x5") and/or by a note in parentheses.
_HEADER_NUMBER = re.compile(r"(-?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)(?: cm-1| 0x[0-9A-Fa-f]+)?(?: \(.*\))?\Z")
# What the user typed (or a file's name) stays text even when it looks like a number.
_TEXT_FIELDS = {"sample", "operator", "comment", "source", "background", "bench date", "TITLE", "OWNER"}


@dataclass(frozen=True)
class SavedFile:
    """A file the host saved, read back.

    kind: "interferogram", or the spectrum's: "single beam", "transmittance" or "absorbance".
    x: the point index (0, 1, ...) of an interferogram, or a spectrum's wavenumbers in cm-1 (rising).
    y: the interferogram in volts (the mean of the co-added scans), or the spectrum's values
       (arbitrary units for a single beam; NaN where a ratio is undefined). Both float64.
    metadata: the file's header fields, {name: value}, numbers as int or float, the rest as str.
    title: the file's title; format: "csv" or "jcamp-dx"; path: as given to read().
    header: the header's fields as written, (name, text) pairs in the file's order (JCAMP-DX labels
       with their "$$" comments); `record` rebuilds from them what dorvane.save writes again.
    """
    path: str
    format: str
    kind: str
    title: str
    x: np.ndarray = field(repr=False)
    y: np.ndarray = field(repr=False)
    metadata: dict = field(repr=False)
    header: tuple = field(repr=False, default=())

    @property
    def record(self):
        """The InterferogramRecord or SpectrumRecord the file holds, for dorvane.save: saved in the form
        it was read from, it gives the same bytes."""
        if self.kind == INTERFEROGRAM:
            return saving.interferogram_record(self)
        return saving.spectrum_record(self)


class _Bad(Exception):
    """What is wrong with the file's content; read() adds the file's name."""


def _quoted(text):
    shown = "".join(c if " " <= c <= "~" else "?" for c in text[:40])
    return '"%s%s"' % (shown, "..." if len(text) > 40 else "")


class _Lines:
    """The file's lines one by one, counted from 1."""

    def __init__(self, text):
        self._lines = text.split("\n")
        if self._lines[-1] == "":
            self._lines.pop()  # the last line's end
        self.number = 0

    def next(self):
        """The next line, or None at the end of the file."""
        if self.number == len(self._lines):
            return None
        self.number += 1
        return self._lines[self.number - 1]

    def rest(self):
        """The lines not yet read, all at once; the count goes on from the first of them."""
        rest = self._lines[self.number:]
        self.number = len(self._lines)
        return rest

    def at(self, number=None):
        return "line %d: " % (self.number if number is None else number)


def _value(lines, text, number=None):
    if not _NUMBER.match(text):
        raise _Bad(lines.at(number) + _quoted(text) + " is not a number")
    value = float(text)
    if not math.isfinite(value):
        raise _Bad(lines.at(number) + "the value " + _quoted(text) + " is not a finite number")
    return value


def _whole(lines, what, text, low, high, number=None):
    if not _WHOLE.match(text):
        raise _Bad(lines.at(number) + "the %s %s is not a whole number" % (what, _quoted(text)))
    value = int(text)
    if not low <= value <= high:
        raise _Bad(lines.at(number) + "the %s %d is outside %d to %d" % (what, value, low, high))
    return value


def _header_value(name, text):
    """A header field's value: the number it holds, when it is one and not the user's text."""
    found = None if name in _TEXT_FIELDS else _HEADER_NUMBER.match(text)
    if not found:
        return text
    number = found.group(1)
    if _WHOLE.match(number):
        return int(number)
    value = float(number)
    return value if math.isfinite(value) else text


def _declared(metadata, name, most, file_size, shortest_point):
    """The header's point count: a whole number in range that the file's size can hold."""
    count = metadata.get(name)
    if count is None:
        raise _Bad("it has no point count (%s) before its data" % name)
    if not isinstance(count, int) or not 1 <= count <= most:
        raise _Bad("its point count %s is not a whole number from 1 to %d" % (_quoted(str(count)), most))
    if count > file_size // shortest_point:
        raise _Bad("it says %d points but is only %d bytes long (cut short?)" % (count, file_size))
    return count


def _check_count(first, declared, count):
    """`count` points read from the rows from line `first` on are the `declared` ones."""
    if count > declared:
        raise _Bad("line %d and on: more points than the %d it says" % (first + declared, declared))
    if count != declared:
        raise _Bad("it says %d points but holds %d (cut short?)" % (declared, count))


def _check_finite(lines, infinite, line_of, what="value"):
    """No point is `infinite` (a mask: a number too large for a double)."""
    bad = np.flatnonzero(infinite)
    if bad.size:
        raise _Bad(lines.at(line_of(bad[0])) + "a %s is not a finite number" % what)


def _check_rising(lines, wavenumbers, line_of):
    bad = np.flatnonzero(~(np.diff(wavenumbers) > 0))
    if bad.size:
        raise _Bad(lines.at(line_of(bad[0] + 1)) + "the wavenumber %r is not above the one before"
                   % float(wavenumbers[bad[0] + 1]))


def _spectrum_points(lines, rows, first, declared, row_form, separator, missing, form):
    """A spectrum's wavenumbers and values from its `rows` (the first on line `first`), each a
    wavenumber, `separator` and a value, or `missing` (NaN) where there is none."""
    wavenumbers = np.empty(declared, dtype=np.float64)
    values = np.empty(declared, dtype=np.float64)
    for offset, row in enumerate(rows[:declared]):
        found = row_form.match(row)
        if found is None:
            wavenumber, comma, value = row.partition(separator)
            if comma:
                _value(lines, wavenumber, first + offset)
                _value(lines, value, first + offset)
            raise _Bad(lines.at(first + offset) + _quoted(row) + " is not " + form)
        wavenumbers[offset] = float(found[1])
        values[offset] = math.nan if found[2] == missing else float(found[2])
    _check_count(first, declared, len(rows))
    _check_finite(lines, np.isinf(wavenumbers), lambda offset: first + offset, "wavenumber")
    _check_finite(lines, np.isinf(values), lambda offset: first + offset)
    _check_rising(lines, wavenumbers, lambda offset: first + offset)
    return wavenumbers, values


# ---- CSV ----------------------------------------------------------------------------------------

_NUMBER_TEXT = _NUMBER.pattern[:-2]
_INDEX_VOLTS = re.compile(r"(\d+),(%s)\Z" % _NUMBER_TEXT)
_WAVENUMBER_VALUE = re.compile(r"(%s),(%s|)\Z" % (_NUMBER_TEXT, _NUMBER_TEXT))


def _csv_header(lines, start, columns, header):
    """The title after `start`, then each "# name: value" line into the metadata (and as written into
    `header`), then the column names."""
    title = lines.next()[len(start):].strip()
    metadata = {}
    line = lines.next()
    while line is not None and line.startswith("#"):
        name, colon, value = line[2:].partition(": ")
        if colon:
            metadata[name] = _header_value(name, value)
            header.append((name, value))
        line = lines.next()
    if line != columns:
        raise _Bad(lines.at() + "%s where the column names %s belong" % (_quoted(line or ""), columns))
    return title, metadata


def _csv_table(lines):
    """The table's rows and the line of the first: up to the end of the file, or a blank line after
    which only blank lines come."""
    first = lines.number + 1
    rows = lines.rest()
    if "" in rows:
        blank = rows.index("")
        after = [offset for offset, row in enumerate(rows[blank:]) if row]
        if after:
            raise _Bad(lines.at(first + blank + after[0]) + "a point after a blank line")
        rows = rows[:blank]
    return rows, first


def _interferogram_csv(lines, size, header):
    title, metadata = _csv_header(lines, _CSV_INTERFEROGRAM, "index,volts", header)
    declared = _declared(metadata, "points", _MOST_INTERFEROGRAM_POINTS, size, _SHORTEST_POINT[INTERFEROGRAM, "csv"])
    rows, first = _csv_table(lines)
    volts = np.empty(declared, dtype=np.float64)
    for offset, row in enumerate(rows[:declared]):
        found = _INDEX_VOLTS.match(row)
        if found is None or int(found[1]) != offset:
            index, comma, value = row.partition(",")
            if not comma:
                raise _Bad(lines.at(first + offset) + _quoted(row) + " is not index,volts")
            if _whole(lines, "index", index, 0, _MOST_INTERFEROGRAM_POINTS, first + offset) != offset:
                raise _Bad(lines.at(first + offset) + "index %s where %d belongs" % (index, offset))
            _value(lines, value, first + offset)
            raise _Bad(lines.at(first + offset) + _quoted(row) + " is not index,volts")
        volts[offset] = float(found[2])
    _check_count(first, declared, len(rows))
    _check_finite(lines, np.isinf(volts), lambda offset: first + offset)
    return INTERFEROGRAM, title, np.arange(declared, dtype=np.float64), volts, metadata


def _spectrum_csv(lines, size, header):
    title, metadata = _csv_header(lines, _CSV_SPECTRUM, "wavenumber,value", header)
    kind = metadata.get("values")
    if kind not in SPECTRUM_KINDS:
        raise _Bad("its values %s are not %s" % (_quoted(str(kind or "")), ", ".join(SPECTRUM_KINDS)))
    declared = _declared(metadata, "points", _MOST_SPECTRUM_POINTS, size, _SHORTEST_POINT["spectrum", "csv"])
    rows, first = _csv_table(lines)
    wavenumbers, values = _spectrum_points(lines, rows, first, declared, _WAVENUMBER_VALUE, ",", "", "wavenumber,value")
    return kind, title, wavenumbers, values, metadata


# ---- JCAMP-DX -----------------------------------------------------------------------------------

def _metadata_name(label):
    # A private label "$LASER WAVENUMBER" is the CSV's "laser wavenumber"; "$SETUP scanTime" keeps the
    # setup field's own name as "setup scanTime".
    if label.startswith("$SETUP "):
        return "setup " + label[len("$SETUP "):]
    return label[1:].lower() if label.startswith("$") else label


def _jcamp_header(lines, header):
    """The labels up to ##XYDATA=, each into the metadata (their "$$" comments dropped) and as written
    into `header`, and the data's form."""
    metadata = {}
    while True:
        line = lines.next()
        if line is None:
            raise _Bad("it ends before its data (cut short?)")
        if not line.startswith("##"):
            continue  # a comment or a continued value
        label, _, written = line[2:].partition("=")
        value = written.split("$$", 1)[0].strip()
        if label == "END":
            raise _Bad(lines.at() + "##END= before any data")
        if label == "XYDATA":
            return metadata, value
        name = _metadata_name(label)
        metadata[name] = _header_value(name, value)
        header.append((label, written))


def _jcamp_data(lines):
    """The data lines up to ##END=, and the line of the first."""
    first = lines.number + 1
    rows = lines.rest()
    for offset, row in enumerate(rows):
        if row.startswith("##"):
            if row[2:].partition("=")[0] != "END":
                raise _Bad(lines.at(first + offset) + _quoted(row) + " inside the data")
            return rows[:offset], first
    raise _Bad("it ends before ##END= (cut short?)")


def _label_is(metadata, label, expected, kind):
    if label in metadata and metadata[label] != expected:
        raise _Bad("its ##%s is %s, not %s as in dorvane's %s" % (label, _quoted(str(metadata[label])), expected, kind))


# A line of (X++(Y..Y)): the index of its first value, then whole numbers (at most 2^53, 16 digits).
_INDEXED_WHOLES = re.compile(r" *\d+(?: +-?\d{1,16})+ *\Z")
_X_Y = re.compile(r"(%s), (%s|\?)\Z" % (_NUMBER_TEXT, _NUMBER_TEXT))


def _interferogram_jcamp(lines, size, metadata):
    for label, expected in (("XFACTOR", 1), ("DELTAX", 1), ("FIRSTX", 0)):
        _label_is(metadata, label, expected, "interferograms")
    factor = metadata.get("YFACTOR")
    if factor is None:
        raise _Bad("it has no ##YFACTOR before its data")
    if isinstance(factor, str) or not factor > 0:
        raise _Bad("its ##YFACTOR %s is not a number above 0" % _quoted(str(factor)))
    declared = _declared(metadata, "NPOINTS", _MOST_INTERFEROGRAM_POINTS, size,
                         _SHORTEST_POINT[INTERFEROGRAM, "jcamp-dx"])
    rows, first = _jcamp_data(lines)
    wholes = np.empty(declared, dtype=np.float64)
    line_of = np.empty(declared, dtype=np.int64)  # each point's line, for a failure to name
    count = 0
    for offset, row in enumerate(rows):
        words = row.split()
        if not words:
            continue
        if not _INDEXED_WHOLES.match(row) or int(words[0]) != count:
            if _whole(lines, "index", words[0], 0, _MOST_INTERFEROGRAM_POINTS, first + offset) != count:
                raise _Bad(lines.at(first + offset) + "the line starts at point %s where %d belongs" % (words[0], count))
            for word in words[1:]:
                _whole(lines, "value", word, -_LARGEST_WHOLE, _LARGEST_WHOLE, first + offset)
            raise _Bad(lines.at(first + offset) + _quoted(row) + " is not an index followed by whole numbers")
        end = count + len(words) - 1
        if end > declared:
            raise _Bad(lines.at(first + offset) + "more points than the %d it says" % declared)
        wholes[count:end] = [float(word) for word in words[1:]]  # exact, "-0" as -0.0
        line_of[count:end] = first + offset
        count = end
    _check_count(first, declared, count)
    too_large = np.flatnonzero(np.abs(wholes) > _LARGEST_WHOLE)
    if too_large.size:
        raise _Bad(lines.at(line_of[too_large[0]]) + "a value is outside %d to %d" % (-_LARGEST_WHOLE, _LARGEST_WHOLE))
    volts = wholes * factor
    _check_finite(lines, np.isinf(volts), lambda point: line_of[point], "value times ##YFACTOR")
    title = str(metadata.get("TITLE", ""))
    if title.startswith(_JCAMP_TITLE_PREFIX):
        title = title[len(_JCAMP_TITLE_PREFIX):]
    return INTERFEROGRAM, title, np.arange(declared, dtype=np.float64), volts, metadata


def _spectrum_jcamp(lines, size, metadata):
    for label in ("XFACTOR", "YFACTOR"):
        _label_is(metadata, label, 1, "spectra")
    units = metadata.get("YUNITS")
    if units not in _JCAMP_UNITS:
        raise _Bad("its ##YUNITS %s are not %s" % (_quoted(str(units or "")), ", ".join(_JCAMP_UNITS)))
    declared = _declared(metadata, "NPOINTS", _MOST_SPECTRUM_POINTS, size, _SHORTEST_POINT["spectrum", "jcamp-dx"])
    rows, first = _jcamp_data(lines)
    wavenumbers, values = _spectrum_points(lines, rows, first, declared, _X_Y, ", ", "?", "X, Y")
    return _JCAMP_UNITS[units], str(metadata.get("TITLE", "")), wavenumbers, values, metadata


# Each JCAMP-DX data type the host writes: the data's form and who reads the points.
_JCAMP_KINDS = {"INFRARED INTERFEROGRAM": ("(X++(Y..Y))", _interferogram_jcamp),
                "INFRARED SPECTRUM": ("(XY..XY)", _spectrum_jcamp)}


def _jcamp(lines, size, header):
    metadata, form = _jcamp_header(lines, header)
    data_type = metadata.get("DATA TYPE")
    if data_type not in _JCAMP_KINDS:
        raise _Bad("it is a JCAMP-DX file of %s, not an interferogram or a spectrum" % _quoted(str(data_type or "")))
    expected_form, read_points = _JCAMP_KINDS[data_type]
    if form != expected_form:
        raise _Bad(lines.at() + "the data are %s, not %s as dorvane writes them" % (_quoted(form), expected_form))
    return read_points(lines, size, metadata)


def _read_text(path):
    with open(path, "rb") as file:
        status = os.fstat(file.fileno())
        if not stat.S_ISREG(status.st_mode):
            raise _Bad("it is not a file")  # a device or a pipe may never end
        size = status.st_size
        if size > _LARGEST_FILE:
            raise _Bad("it is larger than %d MiB: no file of dorvane's is" % (_LARGEST_FILE >> 20))
        data = file.read(_LARGEST_FILE + 1)
    if len(data) > _LARGEST_FILE:
        raise _Bad("it is larger than %d MiB: no file of dorvane's is" % (_LARGEST_FILE >> 20))
    if not data.strip():
        raise _Bad("it is empty")
    # The host writes printable ASCII; any other byte fails the line it stands on.
    text = data.decode("ascii", errors="replace")
    return text.replace("\r\n", "\n") if "\r" in text else text, len(data)


def read(path):
    """The interferogram or spectrum in a CSV or JCAMP-DX file the host saved, as a SavedFile.

    Which of the four it is goes by the file's content, not its name. A file that is not one of them,
    or is damaged or cut short, raises ValueError("PATH: what is wrong"); one that cannot be opened
    raises OSError (FileNotFoundError, ...).
    """
    path = os.fspath(path)
    try:
        text, size = _read_text(path)
        lines = _Lines(text)
        header = []
        if text.startswith(_CSV_INTERFEROGRAM):
            form, content = "csv", _interferogram_csv(lines, size, header)
        elif text.startswith(_CSV_SPECTRUM):
            form, content = "csv", _spectrum_csv(lines, size, header)
        elif text.startswith(_JCAMP_START):
            form, content = "jcamp-dx", _jcamp(lines, size, header)
        elif text.startswith(_CSV_SERIES):
            raise _Bad("it is a series table, which dorvane.read does not take")
        else:
            raise _Bad("not an interferogram or a spectrum saved by dorvane (its CSV or JCAMP-DX files)")
    except _Bad as bad:
        raise ValueError("%s: %s" % (path, bad)) from None
    kind, title, x, y, metadata = content
    return SavedFile(path, form, kind, title, x, y, metadata, tuple(header))
