"""save(record, path): an interferogram or a spectrum written as the host (dorvane acquire, fetch,
spectrum) writes it, in its CSV or its JCAMP-DX form, byte for byte what the host writes for the
same record, so that dorvane.read, the host's own readers and any tool made for the host's files
take it.

The records hold what the host's records hold (host/files/interferogram_files.h, spectrum_files.h);
Bench.acquire's Coadd.record, Spectrum.record(...) and SavedFile.record make them.
"""
import ctypes
import datetime
import math
import os
import re
import tempfile
from dataclasses import dataclass, field
from typing import NamedTuple, Optional

import numpy as np

from . import _library

# A JCAMP-DX line is cut to this width, as the host cuts it.
_LINE_WIDTH = 80
# 9999-12-31T23:59:59.999Z and one: a later time is no clock reading.
_END_OF_YEAR_9999_MS = 253402300800000.0
_SIGNIFICAND_BITS = 53
UNDERSAMPLING_NOTE = "lasersamp, assumed until a real bench confirms it"
_MEAN_VOLTS = "volts, the mean of the co-added scans"
_JCAMP_TITLE_PREFIX = "dorvane interferogram, "
SPECTRUM_KINDS = ("single beam", "transmittance", "absorbance")
_FORMATS = {".csv": "csv", ".jdx": "jcamp-dx", ".dx": "jcamp-dx", ".jcamp": "jcamp-dx"}


class FileParameter(NamedTuple):
    """A processing or sampling parameter: "# name: value unit (note)" in CSV, "##$NAME=value $$ note"
    in JCAMP-DX (which keeps no unit)."""
    name: str   # lower case, e.g. "laser wavenumber"
    value: str  # e.g. "15798"
    unit: str = ""
    note: str = ""


@dataclass
class InterferogramRecord:
    """An interferogram and what is known of it, as the host saves it. Times are ms since 1970-01-01
    00:00:00 UTC (0: unknown); None and "" are unknown or not said."""
    volts: np.ndarray = field(repr=False)
    title: str = ""                # e.g. "file 2 of 3", "stored block 0"
    timestamp_ms: float = 0.0      # when the bench finished it (the driver's time stamp)
    bench_date: str = ""           # a stored block's own date line
    scans: Optional[int] = None
    gain: Optional[int] = None
    bench_identity: int = 0        # whoAreYou: (family << 16) | model
    setup_text: str = ""           # getSetup's text
    laser_wavenumber: Optional[float] = None  # cm-1
    undersampling: Optional[int] = None       # the settings' lasersamp as 1, 2, 4 or 8
    sample: str = ""
    operator: str = ""
    comment: str = ""
    started_ms: float = 0.0        # when the file was asked for


@dataclass
class SpectrumRecord:
    """A spectrum as the host saves it: NaN values are missing (written empty in CSV, "?" in JCAMP-DX)."""
    wavenumbers: np.ndarray = field(repr=False)  # cm-1, rising
    values: np.ndarray = field(repr=False)
    kind: str = "single beam"  # or "transmittance", "absorbance"
    title: str = ""
    parameters: tuple = ()     # FileParameter, in the files' order


def undersampling_of(lasersamp):
    """The undersampling ratio the driver sends the bench for a lasersamp setting: 1, 2, 4 and 8 as they
    are, anything else (a missing key reads as 0) 2."""
    return lasersamp if lasersamp in (1, 2, 4, 8) else 2


# ---- text as the host writes it -----------------------------------------------------------------

def number_text(value):
    """The shortest text that reads back as the same double, as C++'s std::to_chars writes it: fixed or
    scientific, whichever is shorter (fixed on a tie), "-0" keeping its sign, "1e-05" not "1e-5"."""
    value = float(value)
    if not math.isfinite(value):
        return "nan" if math.isnan(value) else ("-inf" if value < 0 else "inf")
    if value == 0:
        return "-0" if math.copysign(1.0, value) < 0 else "0"
    mantissa, _, exponent = repr(abs(value)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    written = whole + ("" if fraction == "0" else fraction)
    digits = written.lstrip("0")
    # abs(value) = 0.DIGITS x 10^point
    point = len(whole) + (int(exponent) if exponent else 0) - (len(written) - len(digits))
    digits = digits.rstrip("0")
    scientific = "%s%se%s%02d" % (digits[0], "." + digits[1:] if len(digits) > 1 else "", "-" if point < 1 else "+",
                                  abs(point - 1))
    if point <= 0:
        fixed = "0." + "0" * -point + digits
    elif point < len(digits):
        fixed = digits[:point] + "." + digits[point:]
    else:
        fixed = str(int(abs(value)))  # a whole number's exact digits, as to_chars writes them
    return ("-" if value < 0 else "") + (fixed if len(fixed) <= len(scientific) else scientific)


def _jcamp_number(value):
    return number_text(value).replace("e", "E")


def printable_ascii(text):
    """One line of printable ASCII, byte for byte: control characters become spaces, other bytes '?'."""
    data = str(text).encode("utf-8", errors="surrogateescape")
    return "".join(" " if byte < 0x20 or byte == 0x7F else "?" if byte > 0x7F else chr(byte) for byte in data)


def _trimmed(text):
    return text.strip(" ")


def _said(text):
    return _trimmed(printable_ascii(text))


def _jcamp_value(text):
    # "##" would start a label and "$$" a comment wherever they stand, so each pair is split with a space.
    value = []
    for c in _said(text):
        if c in "#$" and value and value[-1] == c:
            value.append(" ")
        value.append(c)
    return "".join(value)


def _label(name, value):
    return _trimmed(("##%s=%s" % (name, value))[:_LINE_WIDTH]) + "\n"


def _jcamp_opening(title, data_type, owner=""):
    return (_label("TITLE", _jcamp_value(title)) + _label("JCAMP-DX", "4.24") + _label("DATA TYPE", data_type) +
            _label("ORIGIN", "dorvane") + _label("OWNER", _jcamp_value(owner)))


def _csv_parameters(parameters):
    lines = []
    for parameter in parameters:
        line = "# %s: %s" % (parameter.name, printable_ascii(parameter.value))
        if parameter.unit:
            line += " " + parameter.unit
        if parameter.note:
            line += " (%s)" % parameter.note
        lines.append(line + "\n")
    return "".join(lines)


def _jcamp_parameters(parameters):
    lines = []
    for parameter in parameters:
        name = "$" + "".join(chr(ord(c) - 32) if "a" <= c <= "z" else c for c in parameter.name)
        value = _jcamp_value(parameter.value)
        if parameter.note:
            value += " $$ " + parameter.note
        lines.append(_label(name, value))
    return "".join(lines)


# ---- times --------------------------------------------------------------------------------------

def _known(ms):
    return 0 < ms < _END_OF_YEAR_9999_MS


def _utc(ms):
    """(the moment to the second, its milliseconds), as the host splits a time stamp."""
    whole = math.floor(ms)
    seconds = math.floor(whole / 1000)
    moment = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=seconds)
    return moment, int(whole - seconds * 1000)


def _clock(ms):
    moment, milliseconds = _utc(ms)
    return "%02d:%02d:%02d.%03d" % (moment.hour, moment.minute, moment.second, milliseconds)


def _date(ms, separator="-", year_digits=4):
    moment, _ = _utc(ms)
    year = "%04d" % moment.year if year_digits == 4 else "%02d" % (moment.year % 100)
    return separator.join((year, "%02d" % moment.month, "%02d" % moment.day))


def _iso(ms):
    return _date(ms) + "T" + _clock(ms) + "Z"


# ---- interferograms -----------------------------------------------------------------------------

def bench_name(identity):
    """"family 9 model 60" for a whoAreYou identity; "unknown" for 0."""
    if not identity:
        return "unknown"
    bits = identity & 0xFFFFFFFF
    return "family %d model %d" % (bits >> 16, bits & 0xFFFF)


def zpd_index_of(volts):
    """The point processing takes for the ZPD by default, or None for an interferogram it cannot
    process (the spectra library's dorvane_spectrum_find_zpd, as the host's files record it)."""
    points = np.ascontiguousarray(volts, dtype=np.float64)
    if len(points) > np.iinfo(np.int32).max:
        return None
    library = _library.spectra.get()
    options = _library.SpectrumOptions()
    library.dorvane_spectrum_default_options(ctypes.byref(options))
    zpd = ctypes.c_int32(0)
    if library.dorvane_spectrum_find_zpd(points.ctypes.data_as(_library.DOUBLES), len(points), ctypes.byref(options),
                                         ctypes.byref(zpd)) != 0:
        return None
    return zpd.value


def _sampling(record, zpd):
    parameters = []
    if record.laser_wavenumber is not None:
        parameters.append(FileParameter("laser wavenumber", number_text(record.laser_wavenumber), "cm-1"))
    if record.undersampling is not None:
        parameters.append(FileParameter("undersampling", str(int(record.undersampling)), "", UNDERSAMPLING_NOTE))
    parameters.append(FileParameter("zpd index", "unknown" if zpd is None else str(zpd), "",
                                    "" if zpd is None else "the centre burst's peak"))
    return parameters


def _count(count):
    return "unknown" if count is None else str(int(count))


def _interferogram_csv(record, volts, zpd):
    text = ["# dorvane interferogram: %s\n" % printable_ascii(record.title)]
    for name, said in (("sample", record.sample), ("operator", record.operator), ("comment", record.comment)):
        if _said(said):
            text.append("# %s: %s\n" % (name, _said(said)))
    if _known(record.timestamp_ms):
        text.append("# date: %s\n" % _date(record.timestamp_ms))
        text.append("# time: %s UTC (%s ms since 1970-01-01 00:00:00 UTC)\n"
                    % (_clock(record.timestamp_ms), number_text(record.timestamp_ms)))
    if _known(record.started_ms):
        text.append("# started: %s (%s ms since 1970-01-01 00:00:00 UTC)\n"
                    % (_iso(record.started_ms), number_text(record.started_ms)))
    if record.bench_date:
        text.append("# bench date: %s\n" % _said(record.bench_date))
    if not _known(record.timestamp_ms) and not record.bench_date:
        text.append("# time: unknown\n")
    text.append("# scans: %s\n# values: %s\n# gain: %s\n# points: %d\n# bench: %s\n"
                % (_count(record.scans), _MEAN_VOLTS, _count(record.gain), len(volts), bench_name(record.bench_identity)))
    text.append(_csv_parameters(_sampling(record, zpd)))
    text.append("index,volts\n")
    text.extend("%d,%s\n" % (index, number_text(value)) for index, value in enumerate(volts.tolist()))
    return "".join(text)


def _scaled(volts):
    """(shift, wholes): each value as a whole number m times 2^-shift, exact whenever the values span at
    most 53 bits; whole numbers below 2^53 come back exact in every JCAMP-DX reader."""
    finest = widest = None
    for value in volts.tolist():
        if value == 0:
            continue
        fraction, exponent = math.frexp(abs(value))
        significand = int(math.ldexp(fraction, _SIGNIFICAND_BITS))
        trailing = (significand & -significand).bit_length() - 1
        shift = _SIGNIFICAND_BITS - exponent - trailing
        finest = shift if finest is None else max(finest, shift)
        widest = exponent if widest is None else max(widest, exponent)
    shift = 0 if finest is None else min(finest, _SIGNIFICAND_BITS - widest)
    return shift, np.rint(np.ldexp(volts, shift))  # rint: to even, as nearbyint


def _whole_text(whole):
    return "-0" if whole == 0 and math.copysign(1.0, whole) < 0 else str(int(whole))


def _data_lines(wholes):
    """(X++(Y..Y)) in plain AFFN: each line opens with the index of its first value."""
    lines, line = [], ""
    for index, whole in enumerate(wholes.tolist()):
        value = _whole_text(whole)
        if line and len(line) + 1 + len(value) > _LINE_WIDTH:
            lines.append(line + "\n")
            line = ""
        if not line:
            line = str(index)
        line += " " + value
    if line:
        lines.append(line + "\n")
    return "".join(lines)


def _setup_labels(setup):
    labels = []
    for number, line in enumerate(setup.split("\n")):
        line = _said(line)
        if number == 0 and line.startswith("Bench Setup:"):
            line = _trimmed(line[len("Bench Setup:"):])
        if not line:
            continue
        name, _, value = line.partition(" ")
        name = "".join(c if c.isascii() and (c.isalnum() or c in "._-[]()") else "_" for c in name[:40])
        labels.append(_label("$SETUP " + name, _jcamp_value(value)))
    return "".join(labels)


def _first_least_last_most(values):
    """std::minmax_element's pick: the first of the least values and the last of the largest."""
    return values[int(np.argmin(values))], values[len(values) - 1 - int(np.argmax(values[::-1]))]


def _interferogram_jcamp(record, volts, zpd):
    shift, wholes = _scaled(volts)
    factor = math.ldexp(1.0, -shift)
    lowest, highest = _first_least_last_most(wholes)
    points = len(volts)
    sample = _said(record.sample)
    text = [_jcamp_opening(sample or _JCAMP_TITLE_PREFIX + record.title, "INFRARED INTERFEROGRAM", record.operator)]
    if _known(record.timestamp_ms):
        moment, _ = _utc(record.timestamp_ms)
        clock = "%02d:%02d:%02d" % (moment.hour, moment.minute, moment.second)
        text += [_label("DATE", _date(record.timestamp_ms, "/", 2)), _label("TIME", clock),
                 _label("LONGDATE", "%s %s +0000" % (_date(record.timestamp_ms, "/"), clock))]
    system = "FTIR bench" + ("" if not record.bench_identity else " " + bench_name(record.bench_identity))
    text.append(_label("SPECTROMETER/DATA SYSTEM", system))
    if _said(record.comment):
        text.append(_label("$COMMENT", _jcamp_value(record.comment)))
    if _known(record.timestamp_ms):
        text.append(_label("$TIMESTAMP MS", number_text(record.timestamp_ms)))
    if _known(record.started_ms):
        text.append(_label("$STARTED MS", number_text(record.started_ms)))
    if record.scans is not None:
        text.append(_label("$SCANS", str(int(record.scans))))
    text.append(_label("$VALUES", _MEAN_VOLTS))
    if record.gain is not None:
        text.append(_label("$GAIN", str(int(record.gain))))
    text.append(_label("$POINTS", str(points)))
    text.append(_jcamp_parameters([p for p in _sampling(record, zpd) if p.value != "unknown"]))
    if record.bench_date:
        text.append(_label("$BENCH DATE", _jcamp_value(record.bench_date)))
    text.append(_setup_labels(record.setup_text))
    text += [_label("XUNITS", "POINTS"), _label("YUNITS", "VOLTS"), _label("XFACTOR", "1"),
             _label("YFACTOR", _jcamp_number(factor)), _label("FIRSTX", "0"), _label("LASTX", str(points - 1)),
             _label("DELTAX", "1"), _label("FIRSTY", _jcamp_number(wholes[0] * factor)),
             _label("MAXY", _jcamp_number(highest * factor)), _label("MINY", _jcamp_number(lowest * factor)),
             _label("NPOINTS", str(points)), _label("XYDATA", "(X++(Y..Y))"), _data_lines(wholes), _label("END", "")]
    return "".join(text)


def _interferogram_text(record, form):
    volts = np.ascontiguousarray(record.volts, dtype=np.float64)
    if volts.ndim != 1 or len(volts) == 0:
        raise ValueError("the interferogram has no points" if volts.size == 0 else
                         "an interferogram is one row of points, not an array of shape %s" % (volts.shape,))
    bad = np.flatnonzero(~np.isfinite(volts))
    if bad.size:
        raise ValueError("point %d of the interferogram is not a finite number" % bad[0])
    zpd = zpd_index_of(volts)
    return (_interferogram_csv if form == "csv" else _interferogram_jcamp)(record, volts, zpd)


# ---- spectra ------------------------------------------------------------------------------------

def _spectrum_csv(record, wavenumbers, values):
    text = ["# dorvane spectrum: %s\n# values: %s\n# points: %d\n" % (printable_ascii(record.title), record.kind, len(values)),
            _csv_parameters(record.parameters), "wavenumber,value\n"]
    text.extend("%s,%s\n" % (number_text(x), number_text(y) if math.isfinite(y) else "")
                for x, y in zip(wavenumbers.tolist(), values.tolist()))
    return "".join(text)


def _spectrum_jcamp(record, wavenumbers, values):
    points = len(values)
    units = "ARBITRARY UNITS" if record.kind == "single beam" else record.kind.upper()
    text = [_jcamp_opening(record.title, "INFRARED SPECTRUM"), _label("SPECTROMETER/DATA SYSTEM", "FTIR bench"),
            _jcamp_parameters(record.parameters), _label("XUNITS", "1/CM"), _label("YUNITS", units),
            _label("XFACTOR", "1"), _label("YFACTOR", "1"), _label("FIRSTX", _jcamp_number(wavenumbers[0])),
            _label("LASTX", _jcamp_number(wavenumbers[-1]))]
    if points > 1:
        text.append(_label("DELTAX", _jcamp_number((wavenumbers[-1] - wavenumbers[0]) / (points - 1))))
    present = values[np.isfinite(values)]
    if math.isfinite(values[0]):
        text.append(_label("FIRSTY", _jcamp_number(values[0])))
    if present.size:
        lowest, highest = _first_least_last_most(present)
        text += [_label("MAXY", _jcamp_number(highest)), _label("MINY", _jcamp_number(lowest))]
    text += [_label("NPOINTS", str(points)), _label("XYDATA", "(XY..XY)")]
    text.extend("%s, %s\n" % (_jcamp_number(x), _jcamp_number(y) if math.isfinite(y) else "?")
                for x, y in zip(wavenumbers.tolist(), values.tolist()))
    text.append(_label("END", ""))
    return "".join(text)


def _spectrum_text(record, form):
    if record.kind not in SPECTRUM_KINDS:
        raise ValueError("the spectrum's kind %r is not one of %s" % (record.kind, ", ".join(SPECTRUM_KINDS)))
    wavenumbers = np.ascontiguousarray(record.wavenumbers, dtype=np.float64)
    values = np.ascontiguousarray(record.values, dtype=np.float64)
    if values.ndim != 1 or values.size == 0:
        raise ValueError("the spectrum has no points" if values.size == 0 else "a spectrum's values are one row")
    if wavenumbers.shape != values.shape:
        raise ValueError("the spectrum's axis and values differ in length")
    if not np.all(np.isfinite(wavenumbers)) or np.any(np.diff(wavenumbers) <= 0):
        raise ValueError("the spectrum's wavenumbers are not finite and rising")
    return (_spectrum_csv if form == "csv" else _spectrum_jcamp)(record, wavenumbers, values)


# ---- the file -----------------------------------------------------------------------------------

def text_of(record, format):
    """The file's text: `format` "csv" or "jcamp-dx"."""
    if format not in ("csv", "jcamp-dx"):
        raise ValueError("format %r: csv or jcamp-dx" % (format,))
    if isinstance(record, InterferogramRecord):
        return _interferogram_text(record, format)
    if isinstance(record, SpectrumRecord):
        return _spectrum_text(record, format)
    raise TypeError("save takes an InterferogramRecord or a SpectrumRecord (Coadd.record, Spectrum.record(), "
                    "SavedFile.record), not %s" % type(record).__name__)


def save(record, path, format=None, overwrite=False):
    """Writes `record` (an InterferogramRecord or a SpectrumRecord) at `path` as the host writes it:
    CSV for a name ending in .csv, JCAMP-DX for .jdx or .dx (or as `format` says: "csv", "jcamp-dx").

    The file is written whole or not at all: under a temporary name beside it, committed to the disk,
    then moved into place. A file at `path` is kept and FileExistsError raised unless `overwrite`.
    Returns the path. A record that cannot be written (no points, a value that is not a number)
    raises ValueError before anything is written.
    """
    path = os.fspath(path)
    if format is None:
        format = _FORMATS.get(os.path.splitext(path)[1].lower())
        if format is None:
            raise ValueError("%s: name it .csv or .jdx, or give format=\"csv\" or \"jcamp-dx\"" % path)
    data = text_of(record, format).encode("ascii")
    if not overwrite and os.path.lexists(path):
        raise FileExistsError(17, "the file exists (overwrite=True replaces it)", path)
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".tmp", dir=folder)
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        if overwrite:
            os.replace(temporary, path)
        else:
            # A move that never replaces: a file that appeared meanwhile is kept too.
            if os.name == "nt":
                os.rename(temporary, path)
            else:
                os.link(temporary, path)
                os.unlink(temporary)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise
    return path


# ---- records back from a file's header -----------------------------------------------------------

_MS_SINCE = re.compile(r"\((-?[0-9.eE+-]+) ms since ")
_BENCH = re.compile(r"(?:FTIR bench )?family (\d+) model (\d+)\Z")
# The parameters the host writes with a unit (JCAMP-DX keeps none).
_UNITS = {"laser wavenumber": "cm-1", "phase resolution": "cm-1", "wavenumber step": "cm-1", "range": "cm-1"}
# Names of files, which may hold anything: never split into value, unit and note.
_WHOLE_VALUES = {"source", "background"}


def _optional_int(text):
    text = text.split(" ", 1)[0]
    return int(text) if re.fullmatch(r"-?\d+", text) else None


def _identity(text):
    found = _BENCH.search(text)
    return (int(found[1]) << 16 | int(found[2])) if found else 0


def _ms(text):
    found = _MS_SINCE.search(text)
    return float(found[1]) if found else 0.0


def interferogram_record(saved):
    """The InterferogramRecord of a SavedFile that dorvane.read gave: what the file says of it."""
    header = dict(saved.header)
    record = InterferogramRecord(volts=saved.y.copy())
    if saved.format == "csv":
        record.title = saved.title
        record.sample, record.operator = header.get("sample", ""), header.get("operator", "")
        record.comment, record.bench_date = header.get("comment", ""), header.get("bench date", "")
        record.timestamp_ms, record.started_ms = _ms(header.get("time", "")), _ms(header.get("started", ""))
        record.bench_identity = _identity(header.get("bench", ""))
        sampling = {name: header.get(name, "") for name in ("scans", "gain", "undersampling")}
        laser = header.get("laser wavenumber", "").split(" ", 1)[0]
    else:
        title = header.get("TITLE", "")
        if title.startswith(_JCAMP_TITLE_PREFIX):
            record.title = title[len(_JCAMP_TITLE_PREFIX):]
        else:
            record.sample = title  # the title is not written when a sample is named
        record.operator, record.comment = header.get("OWNER", ""), header.get("$COMMENT", "")
        record.bench_date = header.get("$BENCH DATE", "")
        record.timestamp_ms = float(header.get("$TIMESTAMP MS", 0) or 0)
        record.started_ms = float(header.get("$STARTED MS", 0) or 0)
        record.bench_identity = _identity(header.get("SPECTROMETER/DATA SYSTEM", ""))
        sampling = {name: header.get("$" + name.upper(), "") for name in ("scans", "gain", "undersampling")}
        laser = header.get("$LASER WAVENUMBER", "").split("$$", 1)[0].strip()
        record.setup_text = "".join("%s %s\n" % (name[len("$SETUP "):], value) for name, value in saved.header
                                    if name.startswith("$SETUP "))
    record.scans, record.gain = _optional_int(sampling["scans"]), _optional_int(sampling["gain"])
    record.undersampling = _optional_int(sampling["undersampling"])
    record.laser_wavenumber = float(laser) if laser else None
    return record


def _csv_parameter(name, text):
    if name in _WHOLE_VALUES:
        return FileParameter(name, text)
    value, note = text, ""
    if text.endswith(")") and " (" in text:
        value, note = text[:text.index(" (")], text[text.index(" (") + 2:-1]
    unit = ""
    if value.endswith(" cm-1"):
        value, unit = value[:-len(" cm-1")], "cm-1"
    return FileParameter(name, value, unit, note)


def spectrum_record(saved):
    """The SpectrumRecord of a SavedFile that dorvane.read gave: its title, values and parameters."""
    parameters = []
    for name, text in saved.header:
        if saved.format == "csv":
            if name not in ("values", "points"):
                parameters.append(_csv_parameter(name, text))
        elif name.startswith("$"):
            value, _, note = text.partition("$$")
            name = name[1:].lower()
            parameters.append(FileParameter(name, value.strip(), _UNITS.get(name, ""), note.strip()))
    title = saved.title if saved.format == "csv" else dict(saved.header).get("TITLE", "")
    return SpectrumRecord(saved.x.copy(), saved.y.copy(), saved.kind, title, tuple(parameters))
