"""The performance qualification's measures through libdorvane_spectra, on numpy arrays, and the reader
of the qualification.json that `dorvane qualify` writes.

A spectrum goes in as its wavenumbers (cm-1, rising at equal steps, as dorvane.spectrum gives them)
and its values: transmittance as the fraction dorvane.spectrum(..., ratio="transmittance") gives,
every figure about it coming out in %T. Missing points (NaN) are passed over. A failure of the library
raises DorvaneError with its phrase (a band not found: code -9, DORVANE_SPECTRA_ERROR_NO_BAND).

    film = dorvane.spectrum(sample, background, ratio="transmittance")
    found = dorvane.band_position(film.wavenumbers, film.values, 1601.2)
    print(found.position - 1601.2, "cm-1 off")
"""
import ctypes
import json
import os
from typing import NamedTuple

import numpy as np

from . import _library
from .processing import _check, default_options

FORMAT = "dorvane qualification 1"
NO_BAND = -9
OUT_OF_RANGE = -10


class BandPosition(NamedTuple):
    position: float  # cm-1, refined between points
    percent: float   # %T there


class Resolution(NamedTuple):
    difference: float  # %T, the maximum's less the minimum's
    maximum_at: float  # cm-1
    minimum_at: float  # cm-1


class LineNoise(NamedTuple):
    mean: float            # %T
    rms: float             # the standard deviation about the mean, %T
    peak_to_peak: float    # %T
    difference_rms: float  # from differences of points `stride` apart: the noise without the line's slope
    points: int            # the points that were not missing


class Departure(NamedTuple):
    departure: float   # %T from 100, negative below
    wavenumber: float  # cm-1


class Spread(NamedTuple):
    mean: float
    standard_deviation: float  # the sample's (n - 1)


def default_limits():
    """The library's default limits (dorvane_qualify_default_limits): a dict of the C record's fields,
    lists for its arrays."""
    limits = _library.QualifyLimits()
    _library.spectra.get().dorvane_qualify_default_limits(ctypes.byref(limits))
    return {name: list(getattr(limits, name)) if isinstance(getattr(limits, name), ctypes.Array) else getattr(limits, name)
            for name, _ in limits._fields_}


def _points(values, what):
    points = np.ascontiguousarray(values, dtype=np.float64)
    if points.ndim != 1:
        raise ValueError("%s are one row of points, not an array of shape %s" % (what, points.shape))
    if len(points) > np.iinfo(np.int32).max:
        raise ValueError("%s of %d points are more than the library takes" % (what, len(points)))
    return points


def _spectrum(wavenumbers, values):
    """The values as the library takes them, and the axis that the wavenumbers describe."""
    wavenumbers, values = _points(wavenumbers, "wavenumbers"), _points(values, "values")
    if len(wavenumbers) != len(values):
        raise ValueError("%d wavenumbers for %d values: a spectrum has one of each per point"
                         % (len(wavenumbers), len(values)))
    if len(wavenumbers) < 2:
        raise ValueError("a spectrum of %d points: at least 2 are needed" % len(wavenumbers))
    step = (wavenumbers[-1] - wavenumbers[0]) / (len(wavenumbers) - 1)
    if not (np.isfinite(step) and step > 0) or not np.allclose(np.diff(wavenumbers), step, rtol=1e-6, atol=0):
        raise ValueError("the wavenumbers must rise at equal steps, as the library's spectra do")
    return values.ctypes.data_as(_library.DOUBLES), _library.SpectrumAxis(wavenumbers[0], step, len(wavenumbers)), values


def _limit(value, name):
    return default_limits()[name] if value is None else value


def band_position(wavenumbers, transmittance, listed, window=None, least_depth=None):
    """The band nearest `listed` (cm-1): the lowest point within listed ± window, at least least_depth
    %T below the highest on each side within the window, refined by the parabola through it and its
    neighbours. window and least_depth default to the limits' band_window and band_least_depth."""
    values, axis, _keep = _spectrum(wavenumbers, transmittance)
    position, percent = ctypes.c_double(), ctypes.c_double()
    _check("dorvane_qualify_band_position", _library.spectra.get().dorvane_qualify_band_position(
        values, ctypes.byref(axis), listed, _limit(window, "band_window"), _limit(least_depth, "band_least_depth"),
        ctypes.byref(position), ctypes.byref(percent)))
    return BandPosition(position.value, percent.value)


def resolution(wavenumbers, transmittance, maximum_near, minimum_near, window):
    """The highest %T within maximum_near ± window less the lowest within minimum_near ± window."""
    values, axis, _keep = _spectrum(wavenumbers, transmittance)
    difference, maximum_at, minimum_at = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
    _check("dorvane_qualify_resolution", _library.spectra.get().dorvane_qualify_resolution(
        values, ctypes.byref(axis), maximum_near, minimum_near, window, ctypes.byref(difference),
        ctypes.byref(maximum_at), ctypes.byref(minimum_at)))
    return Resolution(difference.value, maximum_at.value, minimum_at.value)


def line_noise(wavenumbers, transmittance, low, high, stride=1):
    """A 100 % line's noise between low and high cm-1; stride: how many points apart the differences
    are taken (the zero-filling factor, so that the points differenced are independent)."""
    values, axis, _keep = _spectrum(wavenumbers, transmittance)
    noise = _library.LineNoise()
    _check("dorvane_qualify_line_noise", _library.spectra.get().dorvane_qualify_line_noise(
        values, ctypes.byref(axis), low, high, stride, ctypes.byref(noise)))
    return LineNoise(noise.mean, noise.rms, noise.peak_to_peak, noise.difference_rms, noise.points)


def line_departure(wavenumbers, transmittance, low, high, stretch=None):
    """A 100 % line's largest departure from 100 %T between low and high cm-1, with its sign: the line
    taken as its means over stretches `stretch` cm-1 wide (default: the limits' departure_stretch)."""
    if stretch is None:
        stretch = default_limits()["departure_stretch"]
    values, axis, _keep = _spectrum(wavenumbers, transmittance)
    departure, wavenumber = ctypes.c_double(), ctypes.c_double()
    _check("dorvane_qualify_line_departure", _library.spectra.get().dorvane_qualify_line_departure(
        values, ctypes.byref(axis), low, high, stretch, ctypes.byref(departure), ctypes.byref(wavenumber)))
    return Departure(departure.value, wavenumber.value)


def level(wavenumbers, single_beam, wavenumber, half_width=None):
    """A single beam's mean within wavenumber ± half_width cm-1 (the limits' energy_half_width by default)."""
    values, axis, _keep = _spectrum(wavenumbers, single_beam)
    result = ctypes.c_double()
    _check("dorvane_qualify_level", _library.spectra.get().dorvane_qualify_level(
        values, ctypes.byref(axis), wavenumber, _limit(half_width, "energy_half_width"), ctypes.byref(result)))
    return result.value


def burst(interferogram):
    """An interferogram's centre-burst amplitude: its highest point less its lowest."""
    points = _points(interferogram, "an interferogram's points")
    amplitude = ctypes.c_double()
    _check("dorvane_qualify_burst", _library.spectra.get().dorvane_qualify_burst(
        points.ctypes.data_as(_library.DOUBLES), len(points), ctypes.byref(amplitude)))
    return amplitude.value


def spread(values):
    """The mean and the sample standard deviation of repeated figures (at least 2, all finite)."""
    points = _points(values, "the values")
    mean, deviation = ctypes.c_double(), ctypes.c_double()
    _check("dorvane_qualify_spread", _library.spectra.get().dorvane_qualify_spread(
        points.ctypes.data_as(_library.DOUBLES), len(points), ctypes.byref(mean), ctypes.byref(deviation)))
    return Spread(mean.value, deviation.value)


def nominal_resolution(points, zpd_index, laser_wavenumber=None, undersampling=None):
    """The nominal resolution (cm-1) of an interferogram of `points` points with its ZPD at zpd_index:
    1 / the longer side's path difference, the points dx = undersampling / (2 laser_wavenumber) apart
    (the library's defaults unless given)."""
    options = default_options()
    if laser_wavenumber is not None:
        options.laser_wavenumber = laser_wavenumber
    if undersampling is not None:
        options.undersampling = undersampling
    result = ctypes.c_double()
    _check("dorvane_spectrum_nominal_resolution", _library.spectra.get().dorvane_spectrum_nominal_resolution(
        points, zpd_index, ctypes.byref(options), ctypes.byref(result)))
    return result.value


class Qualification(NamedTuple):
    """A qualification.json: passed (its verdict), failures (one line each), tests (each test's figures,
    limits and verdict, by name) and the whole document as read."""
    path: str
    passed: bool
    failures: list
    tests: dict
    document: dict


def read_qualification(path):
    """The report in a qualification.json that `dorvane qualify` wrote, as a Qualification. A file that is
    not one (not JSON, or another format) raises ValueError("PATH: what is wrong"); one that cannot be
    opened raises OSError."""
    path = os.fspath(path)
    with open(path, "rb") as file:
        content = file.read()
    try:
        document = json.loads(content.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as failure:
        raise ValueError("%s: not a qualification report: not UTF-8 JSON (%s)" % (path, failure)) from None
    found = document.get("format") if isinstance(document, dict) else None
    if found != FORMAT:
        raise ValueError("%s: not a qualification report of this version: its format is %s, not %r"
                         % (path, "missing" if found is None else repr(found), FORMAT))
    verdict, failures, tests = document.get("verdict"), document.get("failures"), document.get("tests")
    if verdict not in ("pass", "fail") or not isinstance(failures, list) or not isinstance(tests, dict):
        raise ValueError("%s: a damaged qualification report: it needs a verdict of \"pass\" or \"fail\", a list of "
                         "failures and a table of tests" % path)
    return Qualification(path, verdict == "pass", failures, tests, document)
