"""Interferograms into spectra through libdorvane_spectra: single beam, transmittance and absorbance."""
import ctypes
from typing import NamedTuple

import numpy as np

from . import _library
from ._errors import DorvaneError

# The names of dorvane_spectra.h's numbered options, in their numbers' order (the tests hold the two
# to be the same).
APODIZATIONS = ("boxcar", "triangular", "happ-genzel", "blackman-harris-3", "blackman-harris-4",
                "norton-beer-weak", "norton-beer-medium", "norton-beer-strong")
PHASES = ("mertz", "power")
RATIOS = ("transmittance", "absorbance")
ZPD_GIVEN = 3


class Spectrum(NamedTuple):
    """wavenumbers (cm-1) and values: "single beam" in arbitrary units, or a ratio against a background
    (NaN where it is undefined). zpd_index is the sample interferogram's; transform_points the FFT's."""
    wavenumbers: np.ndarray
    values: np.ndarray
    kind: str
    zpd_index: int
    transform_points: int


def _check(export, result):
    if result != 0:
        library = _library.spectra.get()
        raise DorvaneError(export, result, library.dorvane_spectra_error_text(result).decode())


def _options(laser_wavenumber, undersampling, apodization, zero_fill, phase, phase_resolution, remove_dc, zpd_index):
    """The library's default options, with those given (not None) in their place."""
    library = _library.spectra.get()
    options = _library.SpectrumOptions()
    library.dorvane_spectrum_default_options(ctypes.byref(options))
    if apodization is not None:
        if apodization not in APODIZATIONS:
            raise ValueError("apodization %r: one of %s" % (apodization, ", ".join(APODIZATIONS)))
        options.apodization = APODIZATIONS.index(apodization)
    if phase is not None:
        if phase not in PHASES:
            raise ValueError("phase %r: one of %s" % (phase, ", ".join(PHASES)))
        options.phase = PHASES.index(phase)
    for name, value in (("laser_wavenumber", laser_wavenumber), ("undersampling", undersampling),
                        ("zero_fill", zero_fill), ("phase_resolution", phase_resolution)):
        if value is not None:
            setattr(options, name, value)
    if remove_dc is not None:
        options.remove_dc = 1 if remove_dc else 0
    if zpd_index is not None:
        options.zpd_search, options.zpd_index = ZPD_GIVEN, zpd_index
    return options


def _single_beam(interferogram, options):
    library = _library.spectra.get()
    points = np.ascontiguousarray(interferogram, dtype=np.float64)
    if points.ndim != 1:
        raise ValueError("an interferogram is one row of points, not an array of shape %s" % (points.shape,))
    if len(points) > np.iinfo(np.int32).max:
        raise ValueError("an interferogram of %d points is more than the library takes" % len(points))
    axis = _library.SpectrumAxis()
    _check("dorvane_spectrum_axis_for", library.dorvane_spectrum_axis_for(len(points), ctypes.byref(options), ctypes.byref(axis)))
    values = np.empty(axis.points, dtype=np.float64)
    info = _library.SpectrumInfo()
    _check("dorvane_spectrum_process", library.dorvane_spectrum_process(
        points.ctypes.data_as(_library.DOUBLES), len(points), ctypes.byref(options),
        values.ctypes.data_as(_library.DOUBLES), len(values), ctypes.byref(info)))
    return values, info


def spectrum(interferogram, background=None, ratio="absorbance", *, laser_wavenumber=None, undersampling=None,
             apodization=None, zero_fill=None, phase=None, phase_resolution=None, remove_dc=None, zpd_index=None):
    """The spectrum of an interferogram (volts, as Bench.acquire or fetch give it).

    Without `background`, its single beam; with one (the background's interferogram, processed with
    the same options), the `ratio` against it: "absorbance" (-log10 S/B) or "transmittance" (S/B).
    The options are those of dorvane_spectra.h, each left out (None) taking the library's default;
    undersampling is the bench's lasersamp (1, 2, 4, 8).
    zpd_index, when given, is used for the sample and the background alike instead of searched for.
    """
    if background is not None and ratio not in RATIOS:
        raise ValueError("ratio %r: one of %s" % (ratio, ", ".join(RATIOS)))
    options = _options(laser_wavenumber, undersampling, apodization, zero_fill, phase, phase_resolution, remove_dc,
                       zpd_index)
    values, info = _single_beam(interferogram, options)
    kind = "single beam"
    if background is not None:
        background_values, background_info = _single_beam(background, options)
        result = np.empty_like(values)
        _check("dorvane_spectrum_ratio", _library.spectra.get().dorvane_spectrum_ratio(
            values.ctypes.data_as(_library.DOUBLES), ctypes.byref(info.axis),
            background_values.ctypes.data_as(_library.DOUBLES), ctypes.byref(background_info.axis),
            RATIOS.index(ratio), result.ctypes.data_as(_library.DOUBLES), len(result)))
        values, kind = result, ratio
    axis = info.axis
    wavenumbers = axis.first_wavenumber + axis.wavenumber_step * np.arange(axis.points, dtype=np.float64)
    return Spectrum(wavenumbers, values, kind, info.zpd_index, info.transform_points)
