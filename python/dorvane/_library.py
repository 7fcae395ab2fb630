"""Finding and loading libdorvane and libdorvane_spectra, every export declared once."""
import ctypes
import ctypes.util
import os
import sys
import threading

from ._errors import LibraryNotFound

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
_WINDOWS = sys.platform == "win32"

I32 = ctypes.c_int32
F64 = ctypes.c_double
DOUBLES = ctypes.POINTER(ctypes.c_double)
I32_OUT = ctypes.POINTER(ctypes.c_int32)


class SpectrumOptions(ctypes.Structure):
    _fields_ = [("laser_wavenumber", F64), ("undersampling", I32), ("remove_dc", I32), ("zpd_search", I32),
                ("zpd_index", I32), ("apodization", I32), ("zero_fill", I32), ("phase", I32),
                ("phase_resolution", F64)]


class SpectrumAxis(ctypes.Structure):
    _fields_ = [("first_wavenumber", F64), ("wavenumber_step", F64), ("points", I32)]


class SpectrumInfo(ctypes.Structure):
    _fields_ = [("axis", SpectrumAxis), ("zpd_index", I32), ("transform_points", I32), ("phase_points", I32),
                ("mean", F64)]


# The array sizes of dorvane_spectra.h's qualification records (DORVANE_QUALIFY_...).
QUALIFY_BANDS, QUALIFY_RESOLUTION_PAIRS, QUALIFY_NOISE_RANGES, QUALIFY_ENERGY_POINTS, QUALIFY_REPEAT_BANDS = 7, 2, 2, 3, 2


class QualifyLimits(ctypes.Structure):
    _fields_ = [("band_positions", F64 * QUALIFY_BANDS), ("band_tolerances", F64 * QUALIFY_BANDS),
                ("band_window", F64), ("band_least_depth", F64),
                ("resolution_maxima", F64 * QUALIFY_RESOLUTION_PAIRS),
                ("resolution_minima", F64 * QUALIFY_RESOLUTION_PAIRS),
                ("resolution_windows", F64 * QUALIFY_RESOLUTION_PAIRS),
                ("resolution_least", F64 * QUALIFY_RESOLUTION_PAIRS), ("resolution_coarsest", F64),
                ("noise_low", F64 * QUALIFY_NOISE_RANGES), ("noise_high", F64 * QUALIFY_NOISE_RANGES),
                ("noise_rms_most", F64), ("noise_peak_to_peak_most", F64), ("departure_low", F64),
                ("departure_high", F64), ("departure_most", F64), ("departure_stretch", F64), ("energy_wavenumbers", F64 * QUALIFY_ENERGY_POINTS),
                ("energy_half_width", F64), ("energy_least_share", F64), ("repeat_samples", I32),
                ("repeat_position_most", F64), ("repeat_bands", F64 * QUALIFY_REPEAT_BANDS),
                ("repeat_percent_most", F64)]


class LineNoise(ctypes.Structure):
    _fields_ = [("mean", F64), ("rms", F64), ("peak_to_peak", F64), ("difference_rms", F64), ("points", I32)]


# The 27 exports of dorvane.h: (result, arguments). Every one is cdecl, so CDLL on Windows too.
DRIVER_SIGNATURES = {
    "spectrometer_open": (I32, [I32]),
    "spectrometer_initialize": (I32, []),
    "spectrometer_close": (I32, []),
    "spectrometer_startCoadd": (I32, []),
    "spectrometer_stop": (I32, []),
    "spectrometer_getData": (I32, [DOUBLES, I32, DOUBLES]),
    "spectrometer_getScanProgress": (I32, []),
    "spectrometer_getFileProgress": (I32, []),
    "spectrometer_getStatus": (I32, []),
    "spectrometer_getCapabilities": (I32, []),
    "spectrometer_getTimestamp": (F64, []),
    "spectrometer_getGain": (F64, []),
    "spectrometer_setGain": (F64, [F64]),
    "spectrometer_getResolution": (F64, []),
    "spectrometer_setResolution": (F64, [F64]),
    "spectrometer_getPoints": (I32, []),
    "spectrometer_setPoints": (I32, [I32]),
    "spectrometer_getScans": (I32, []),
    "spectrometer_setScans": (I32, [I32]),
    "spectrometer_getFiles": (I32, []),
    "spectrometer_setFiles": (I32, [I32]),
    "spectrometer_setScanCompleteEventHandle": (I32, [ctypes.c_void_p]),
    "spectrometer_setCoaddCompleteEventHandle": (I32, [ctypes.c_void_p]),
    "spectrometer_execute": (I32, [ctypes.c_char_p]),
    "getRemoteData": (I32, [I32, DOUBLES, I32_OUT]),
    "getRemoteDataList": (I32, [ctypes.c_char_p]),
    "getSetup": (I32, [ctypes.c_char_p, I32]),
}

_OPTIONS = ctypes.POINTER(SpectrumOptions)
_AXIS = ctypes.POINTER(SpectrumAxis)
SPECTRA_SIGNATURES = {
    "dorvane_spectrum_default_options": (None, [_OPTIONS]),
    "dorvane_spectrum_axis_for": (I32, [I32, _OPTIONS, _AXIS]),
    "dorvane_spectrum_find_zpd": (I32, [DOUBLES, I32, _OPTIONS, I32_OUT]),
    "dorvane_spectrum_process": (I32, [DOUBLES, I32, _OPTIONS, DOUBLES, I32, ctypes.POINTER(SpectrumInfo)]),
    "dorvane_spectrum_ratio": (I32, [DOUBLES, _AXIS, DOUBLES, _AXIS, I32, DOUBLES, I32]),
    "dorvane_qualify_default_limits": (None, [ctypes.POINTER(QualifyLimits)]),
    "dorvane_qualify_band_position": (I32, [DOUBLES, _AXIS, F64, F64, F64, DOUBLES, DOUBLES]),
    "dorvane_qualify_resolution": (I32, [DOUBLES, _AXIS, F64, F64, F64, DOUBLES, DOUBLES, DOUBLES]),
    "dorvane_qualify_line_noise": (I32, [DOUBLES, _AXIS, F64, F64, I32, ctypes.POINTER(LineNoise)]),
    "dorvane_qualify_line_departure": (I32, [DOUBLES, _AXIS, F64, F64, F64, DOUBLES, DOUBLES]),
    "dorvane_qualify_level": (I32, [DOUBLES, _AXIS, F64, F64, DOUBLES]),
    "dorvane_qualify_burst": (I32, [DOUBLES, I32, DOUBLES]),
    "dorvane_qualify_spread": (I32, [DOUBLES, I32, DOUBLES, DOUBLES]),
    "dorvane_spectrum_nominal_resolution": (I32, [I32, I32, _OPTIONS, DOUBLES]),
    "dorvane_spectra_error_text": (ctypes.c_char_p, [I32]),
}


class _Library:
    """One shared library: where it may be, what it exports, loaded at its first use."""

    def __init__(self, what, variable, posix_names, windows_names, signatures):
        self.what, self.variable, self.signatures = what, variable, signatures
        self.names = windows_names if _WINDOWS else posix_names
        self._loaded = None
        self._lock = threading.Lock()

    def get(self):
        with self._lock:
            if self._loaded is None:
                self._loaded = self._declared(self._load())
            return self._loaded

    def _load(self):
        given = os.environ.get(self.variable)
        if given:
            try:
                return ctypes.CDLL(given)
            except OSError as failure:
                raise LibraryNotFound("cannot load the %s from %s=%s: %s; point %s at the library file "
                                      "(%s)" % (self.what, self.variable, given, failure, self.variable,
                                                " or ".join(self.names))) from None
        tried = []
        for name in self.names:
            beside = os.path.join(_PACKAGE_DIR, name)
            if os.path.exists(beside):
                try:
                    return ctypes.CDLL(beside)
                except OSError as failure:
                    tried.append("%s (%s)" % (beside, failure))
        for name in self.names:
            # Python on Windows loads a bare DLL name from its own folders only; the folders of PATH,
            # where an install's bin/ sits, come through find_library.
            found = ctypes.util.find_library(name) if _WINDOWS else name
            try:
                return ctypes.CDLL(found or name)
            except OSError:
                pass
        names = self.names[0] if len(self.names) == 1 else "neither " + " nor ".join(self.names)
        system_path, add_to = ("PATH", "PATH") if _WINDOWS else ("the system's library path", "LD_LIBRARY_PATH")
        raise LibraryNotFound(
            "cannot find the %s: %s is not set, %s is in the package folder %s%s, and %s has none; set %s to "
            "the library's path (e.g. %s=/path/to/build/%s), add its folder to %s, or copy the library into %s"
            % (self.what, self.variable, names, _PACKAGE_DIR, "".join("; " + t for t in tried), system_path,
               self.variable, self.variable, self.names[-1], add_to, _PACKAGE_DIR))

    def _declared(self, library):
        for name, (result, arguments) in self.signatures.items():
            function = getattr(library, name)
            function.restype, function.argtypes = result, arguments
        return library


driver = _Library("dorvane driver library", "DORVANE_LIBRARY", ("libdorvane.so.0", "libdorvane.so"),
                  ("dorvane.dll",), DRIVER_SIGNATURES)
spectra = _Library("dorvane spectra library", "DORVANE_SPECTRA_LIBRARY",
                   ("libdorvane_spectra.so.0", "libdorvane_spectra.so"), ("dorvane_spectra.dll",), SPECTRA_SIGNATURES)
