"""Interferograms into spectra through libdorvane_spectra: single beam, transmittance and absorbance."""
import ctypes
from typing import NamedTuple

import numpy as np

from . import _library
from ._errors import DorvaneError
from .saving import UNDERSAMPLING_NOTE, FileParameter, InterferogramRecord, SpectrumRecord, number_text

# The names of dorvane_spectra.h's numbered options, in their numbers' order (the tests hold the two
# to be the same).
APODIZATIONS = ("boxcar", "triangular", "happ-genzel", "blackman-harris-3", "blackman-harris-4",
                "norton-beer-weak", "norton-beer-medium", "norton-beer-strong")
PHASES = ("mertz", "power")
RATIOS = ("transmittance", "absorbance")
ZPD_GIVEN = 3


class Spectrum(NamedTuple):
    """wavenumbers (cm-1) and values: "single beam" in arbitrary units, or a ratio against a background
    (NaN where it is undefined). zpd_index is the sample interferogram's; transform_points the FFT's;
    parameters: the sampling and processing as the host's spectrum files record them."""
    wavenumbers: np.ndarray
    values: np.ndarray
    kind: str
    zpd_index: int
    transform_points: int
    parameters: tuple = ()

    def record(self, source="", background=""):
        """The SpectrumRecord for dorvane.save, titled and with the parameters as the host writes them:
        `source` and `background` name the interferograms' files (or say what they were)."""
        title = self.kind + (" of " + source if source else "") + (" against " + background if background else "")
        named = [FileParameter(name, text) for name, text in (("source", source), ("background", background)) if text]
        return SpectrumRecord(self.wavenumbers, self.values, self.kind, title, tuple(named) + tuple(self.parameters))


def default_options():
    """The spectra library's default options (dorvane_spectrum_default_options)."""
    options = _library.SpectrumOptions()
    _library.spectra.get().dorvane_spectrum_default_options(ctypes.byref(options))
    return options


def _check(export, result):
    if result != 0:
        library = _library.spectra.get()
        raise DorvaneError(export, result, library.dorvane_spectra_error_text(result).decode())


def _options(laser_wavenumber, undersampling, apodization, zero_fill, phase, phase_resolution, remove_dc, zpd_index):
    """The library's default options, with those given (not None) in their place."""
    options = default_options()
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


def _sampled(interferogram, options, laser_wavenumber, undersampling):
    """The points of an interferogram (an array, or an InterferogramRecord whose sampling fills what was
    not given), the options for it, and the note on its undersampling ratio as the host writes it."""
    note = "given to dorvane.spectrum" if undersampling is not None else "the default: none was given"
    if isinstance(interferogram, InterferogramRecord):
        options = _library.SpectrumOptions.from_buffer_copy(options)
        if laser_wavenumber is None and interferogram.laser_wavenumber is not None:
            options.laser_wavenumber = interferogram.laser_wavenumber
        if undersampling is None:
            if interferogram.undersampling is not None:
                options.undersampling = interferogram.undersampling
                note = UNDERSAMPLING_NOTE
            else:
                note = "the default: the record names none"
        interferogram = interferogram.volts
    return interferogram, options, note


def spectrum(interferogram, background=None, ratio="absorbance", *, laser_wavenumber=None, undersampling=None,
             apodization=None, zero_fill=None, phase=None, phase_resolution=None, remove_dc=None, zpd_index=None):
    """The spectrum of an interferogram: volts as Bench.acquire or fetch give them, or an
    InterferogramRecord (Coadd.record, SavedFile.record), whose laser wavenumber and undersampling are
    taken unless given here, as the host takes a file's.

    Without `background`, its single beam; with one (the background's interferogram, processed with
    the same options), the `ratio` against it: "absorbance" (-log10 S/B) or "transmittance" (S/B).
    The options are those of dorvane_spectra.h, each left out (None) taking the library's default;
    undersampling is the bench's lasersamp (1, 2, 4, 8).
    zpd_index, when given, is used for the sample and the background alike instead of searched for.
    """
    if background is not None and ratio not in RATIOS:
        raise ValueError("ratio %r: one of %s" % (ratio, ", ".join(RATIOS)))
    given = _options(laser_wavenumber, undersampling, apodization, zero_fill, phase, phase_resolution, remove_dc,
                     zpd_index)
    points, options, undersampling_note = _sampled(interferogram, given, laser_wavenumber, undersampling)
    values, info = _single_beam(points, options)
    kind = "single beam"
    if background is not None:
        background_points, background_options, _ = _sampled(background, given, laser_wavenumber, undersampling)
        background_values, background_info = _single_beam(background_points, background_options)
        result = np.empty_like(values)
        _check("dorvane_spectrum_ratio", _library.spectra.get().dorvane_spectrum_ratio(
            values.ctypes.data_as(_library.DOUBLES), ctypes.byref(info.axis),
            background_values.ctypes.data_as(_library.DOUBLES), ctypes.byref(background_info.axis),
            RATIOS.index(ratio), result.ctypes.data_as(_library.DOUBLES), len(result)))
        values, kind = result, ratio
    axis = info.axis
    wavenumbers = axis.first_wavenumber + axis.wavenumber_step * np.arange(axis.points, dtype=np.float64)
    parameters = [FileParameter("laser wavenumber", number_text(options.laser_wavenumber), "cm-1"),
                  FileParameter("undersampling", str(options.undersampling), "", undersampling_note),
                  FileParameter("interferogram points", str(len(points))),
                  FileParameter("zpd index", str(info.zpd_index)),
                  FileParameter("apodization", APODIZATIONS[options.apodization]),
                  FileParameter("zero fill", str(options.zero_fill)),
                  FileParameter("phase correction", PHASES[options.phase])]
    if PHASES[options.phase] == "mertz":
        parameters += [FileParameter("phase resolution", number_text(options.phase_resolution), "cm-1"),
                       FileParameter("phase points", str(info.phase_points))]
    parameters += [FileParameter("transform points", str(info.transform_points)),
                   FileParameter("wavenumber step", number_text(axis.wavenumber_step), "cm-1")]
    return Spectrum(wavenumbers, values, kind, info.zpd_index, info.transform_points, tuple(parameters))
