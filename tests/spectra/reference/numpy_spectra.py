# A second implementation of the spectra library's steps, in numpy and written apart from the C++,
# which the reference check holds the library to and the spectrum benchmark times.
from types import SimpleNamespace

import numpy as np

# dorvane_spectra.h's codes, carried by SpectrumError.
TOO_FEW_POINTS, TOO_MANY_POINTS, BAD_OPTION, NOT_FINITE, NO_SIGNAL = -2, -3, -4, -5, -6
LARGEST_MAGNITUDE, LARGEST, SMALLEST, GIVEN = 0, 1, 2, 3
MERTZ, POWER = 0, 1
TRANSMITTANCE, ABSORBANCE = 0, 1
MAX_TRANSFORM = 1 << 24

# By DORVANE_APODIZATION_ number: coefficients of cos(i pi x) (triangular apart), then Norton-Beer's
# coefficients of q^i with q = 1 - x^2.
COSINE_SERIES = {0: (1.0,), 2: (0.54, 0.46), 3: (0.42323, 0.49755, 0.07922),
                 4: (0.35875, 0.48829, 0.14128, 0.01168)}
NORTON_BEER = {5: (0.384093, -0.087577, 0.703484), 6: (0.152442, -0.136176, 0.983734),
               7: (0.045335, 0.0, 0.554883, 0.0, 0.399782)}
TRIANGULAR = 1


class SpectrumError(Exception):
    def __init__(self, code):
        super().__init__(f"spectra error {code}")
        self.code = code


def default_options():
    return SimpleNamespace(laser_wavenumber=15798.0, undersampling=2, remove_dc=1,
                           zpd_search=LARGEST_MAGNITUDE, zpd_index=0, apodization=3, zero_fill=2,
                           phase=MERTZ, phase_resolution=32.0)


def spacing(o):
    return o.undersampling / (2.0 * o.laser_wavenumber)


def transform_points(n, o):
    if n < 2:
        raise SpectrumError(TOO_FEW_POINTS)
    if o.undersampling not in (1, 2, 4, 8) or o.zero_fill not in (1, 2, 4, 8) or \
            o.apodization not in range(8) or o.zpd_search not in range(4) or o.phase not in (MERTZ, POWER) or \
            not (np.isfinite(o.laser_wavenumber) and o.laser_wavenumber > 0) or \
            not (np.isfinite(o.phase_resolution) and o.phase_resolution > 0) or \
            (o.zpd_search == GIVEN and not 0 <= o.zpd_index < n):
        raise SpectrumError(BAD_OPTION)
    size = 1
    while size < n * o.zero_fill:
        size *= 2
    if size > MAX_TRANSFORM:
        raise SpectrumError(TOO_MANY_POINTS)
    return size


def axis(n, o):
    """(first, step, points) of the spectrum of n points."""
    size = transform_points(n, o)
    return 0.0, 1.0 / (size * spacing(o)), size // 2 + 1


def remove_dc(y, o):
    mean = y.sum() / y.size if o.remove_dc else 0.0
    return y - mean, mean


def find_zpd(y, o):
    if o.zpd_search == LARGEST_MAGNITUDE:
        return int(np.argmax(np.abs(y)))
    if o.zpd_search == LARGEST:
        return int(np.argmax(y))
    if o.zpd_search == SMALLEST:
        return int(np.argmin(y))
    return o.zpd_index


def window(kind, x):
    if kind == TRIANGULAR:
        return 1.0 - x
    if kind in COSINE_SERIES:
        return sum(c * np.cos(i * np.pi * x) for i, c in enumerate(COSINE_SERIES[kind]))
    q = 1.0 - x * x
    return sum(c * q ** i for i, c in enumerate(NORTON_BEER[kind]))


def sides(n, z):
    left, right = z, n - 1 - z
    return left, right, min(left, right), max(left, right)


def apodize(y, z, size, o):
    """Apodized about z, zero-filled to `size` and rotated so that z comes first."""
    n = y.size
    left, right, short, long = sides(n, z)
    d = np.arange(n) - z
    ramped = o.phase == MERTZ and short + 1 < long
    if ramped:
        length = long  # the ramp halves what the short side's mirror adds: taper both sides as one
    else:
        length = np.maximum(np.where(d < 0, left, right), 1)  # a side of 0 points only holds d = 0
    w = window(o.apodization, np.abs(d) / length)
    if ramped:
        t = d if right > left else -d
        w = w * np.where(t > short, 2.0, (t + short) / short)
    u = np.zeros(size)
    u[d % size] = y * w
    return u


def fft(u):
    return np.fft.rfft(u)


def phase_correct(f, y, z, size, o):
    """(spectrum, phase points) from the transform f of the apodized interferogram."""
    if o.phase == POWER:
        return np.abs(f), 0
    short = sides(y.size, z)[2]
    p = min(short, max(1, int(np.floor(1.0 / (o.phase_resolution * spacing(o)) + 0.5))))
    d = np.arange(-p, p + 1)
    # The stretch is transformed at a power of two of at least twice its points, at most `size`,
    # and its bins are interpolated linearly onto the spectrum's.
    m = min(size, max(2, 1 << (2 * (2 * p + 1) - 1).bit_length()))
    v = np.zeros(m)
    v[d % m] = y[z + d] * (1.0 - np.abs(d) / p)
    coarse = np.fft.rfft(v)
    where = np.arange(size // 2 + 1) * (m / size)
    bins = np.arange(m // 2 + 1)
    g = np.interp(where, bins, coarse.real) + 1j * np.interp(where, bins, coarse.imag)
    magnitude = np.abs(g)
    some = magnitude > 0
    projected = (f.real * g.real + f.imag * g.imag) / np.where(some, magnitude, 1.0)
    return np.where(some, projected, f.real), 2 * p + 1


def process(interferogram, o):
    """(spectrum, info) as dorvane_spectrum_process gives them; SpectrumError otherwise."""
    y = np.asarray(interferogram, dtype=float)
    size = transform_points(y.size, o)
    if not np.all(np.isfinite(y)):
        raise SpectrumError(NOT_FINITE)
    if np.all(y == y[0]):
        raise SpectrumError(NO_SIGNAL)
    y, mean = remove_dc(y, o)
    z = find_zpd(y, o)
    if o.phase == MERTZ and sides(y.size, z)[2] < 1:
        raise SpectrumError(TOO_FEW_POINTS)
    spectrum, phase_points = phase_correct(fft(apodize(y, z, size, o)), y, z, size, o)
    first, step, points = axis(y.size, o)
    return spectrum, SimpleNamespace(first=first, step=step, points=points, zpd_index=z,
                                     transform_points=size, phase_points=phase_points, mean=mean)


def axes_match(a, b):
    """a, b: (first, step, points)."""
    return a[2] == b[2] and abs(a[1] - b[1]) <= 1e-9 * max(abs(a[1]), abs(b[1])) and \
        abs(a[0] - b[0]) <= 1e-9 * max(abs(a[1]), abs(b[1]))


def ratio(sample, background, kind):
    """Transmittance or absorbance, NaN where it is undefined."""
    with np.errstate(all="ignore"):
        defined = (background > 0) & np.isfinite(sample) & np.isfinite(background)
        t = np.where(defined, sample / np.where(defined, background, 1.0), np.nan)
        if kind == TRANSMITTANCE:
            return t
        return np.where((t > 0) & np.isfinite(t), -np.log10(np.where(t > 0, t, 1.0)), np.nan)
