# The spectra library, loaded through its C interface with ctypes, against the numpy reference on
# synthetic interferograms. Usage: check_library.py LIBRARY. Exit status 1 when any case fails.
import ctypes
import sys

try:
    import numpy as np
except ImportError:
    print("skipped: this python3 has no numpy (Debian's python3-numpy)")
    sys.exit(0)

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import numpy_spectra as ref  # noqa: E402

TOLERANCE = 1e-9  # of the spectrum's largest magnitude


class Options(ctypes.Structure):
    _fields_ = [("laser_wavenumber", ctypes.c_double), ("undersampling", ctypes.c_int32),
                ("remove_dc", ctypes.c_int32), ("zpd_search", ctypes.c_int32), ("zpd_index", ctypes.c_int32),
                ("apodization", ctypes.c_int32), ("zero_fill", ctypes.c_int32), ("phase", ctypes.c_int32),
                ("phase_resolution", ctypes.c_double)]


class Axis(ctypes.Structure):
    _fields_ = [("first_wavenumber", ctypes.c_double), ("wavenumber_step", ctypes.c_double),
                ("points", ctypes.c_int32)]


class Info(ctypes.Structure):
    _fields_ = [("axis", Axis), ("zpd_index", ctypes.c_int32), ("transform_points", ctypes.c_int32),
                ("phase_points", ctypes.c_int32), ("mean", ctypes.c_double)]


DOUBLES = ctypes.POINTER(ctypes.c_double)
I32 = ctypes.c_int32
# Every export used here, declared once: (result, argument types).
SIGNATURES = {
    "dorvane_spectrum_default_options": (None, [ctypes.POINTER(Options)]),
    "dorvane_spectrum_axis_for": (I32, [I32, ctypes.POINTER(Options), ctypes.POINTER(Axis)]),
    "dorvane_spectrum_find_zpd": (I32, [DOUBLES, I32, ctypes.POINTER(Options), ctypes.POINTER(I32)]),
    "dorvane_spectrum_process": (I32, [DOUBLES, I32, ctypes.POINTER(Options), DOUBLES, I32, ctypes.POINTER(Info)]),
    "dorvane_spectrum_ratio": (I32, [DOUBLES, ctypes.POINTER(Axis), DOUBLES, ctypes.POINTER(Axis), I32, DOUBLES, I32]),
    "dorvane_spectra_error_text": (ctypes.c_char_p, [I32]),
}
SENTINEL = -7.25e99  # what the library must leave alone past the result, and everywhere on failure


def load(path):
    lib = ctypes.CDLL(path)
    for name, (result, arguments) in SIGNATURES.items():
        function = getattr(lib, name)
        function.restype, function.argtypes = result, arguments
    return lib


def doubles(array):
    return array.ctypes.data_as(DOUBLES)


def options_struct(o):
    return Options(**{name: getattr(o, name) for name, _ in Options._fields_})


def options(**changes):
    o = ref.default_options()
    o.__dict__.update(changes)
    return o


def library_process(lib, y, o, capacity=None):
    """(code, spectrum, info, output buffer); the buffer has one guard element past capacity."""
    axis = Axis()
    code = lib.dorvane_spectrum_axis_for(y.size, options_struct(o), axis)
    points = axis.points if code == 0 else 8 * y.size + 2  # room for any zero-fill: refusals are not for size
    capacity = points if capacity is None else capacity
    out = np.full(max(capacity, 0) + 1, SENTINEL)
    info = Info()
    code = lib.dorvane_spectrum_process(doubles(y), y.size, options_struct(o), doubles(out), capacity, info)
    return code, out[:points], info, out


def interferogram(n, z, r, seed, sign=1.0):
    """A broad band and three narrow lines under a linear phase, their burst at z, on an offset,
    with a little noise."""
    dx = r / (2 * 15798.0)
    folding = 15798.0 / r
    x = (np.arange(n) - z) * dx
    y = np.full(n, 0.6)
    for centre, width, amplitude in ((0.35, 0.2, 1.0), (0.12, 0.002, 0.3), (0.55, 0.001, 0.2), (0.8, 0.004, 0.1)):
        s = centre * folding
        phase = 0.2 + 2 * np.pi * s * 0.3 * dx
        y += sign * amplitude * np.exp(-2 * (np.pi * width * folding * x) ** 2) * np.cos(2 * np.pi * s * x + phase)
    return y + 1e-3 * np.random.default_rng(seed).standard_normal(n)


class Tally:
    def __init__(self):
        self.passed = self.failed = 0

    def group(self, title):
        return Group(self, title)


class Group:
    """Cases of one kind: a summary line at the end, a line for each of the first few failures."""

    def __init__(self, tally, title):
        self.tally, self.title, self.cases, self.failures, self.worst = tally, title, 0, 0, 0.0

    def check(self, ok, what, error=None):
        self.cases += 1
        if error is not None:
            self.worst = max(self.worst, error)
        if ok:
            self.tally.passed += 1
            return
        self.tally.failed += 1
        self.failures += 1
        if self.failures <= 5:
            print(f"  FAILED {what}")

    def end(self):
        worst = f", worst {self.worst:.1e} of the largest magnitude" if self.worst else ""
        print(f"{self.title}: {self.cases} cases, {self.failures} failed{worst}")


def compare_process(lib, group, y, o, what):
    try:
        expected, info = ref.process(y, o)
    except ref.SpectrumError as e:
        group.check(False, f"{what}: the reference refused it ({e.code})")
        return
    code, got, got_info, _ = library_process(lib, y, o)
    if code != 0:
        group.check(False, f"{what}: {code} ({lib.dorvane_spectra_error_text(code).decode()})")
        return
    error = float(np.max(np.abs(got - expected)) / np.max(np.abs(expected)))
    record = (got_info.zpd_index, got_info.transform_points, got_info.phase_points, got_info.axis.points)
    wanted = (info.zpd_index, info.transform_points, info.phase_points, info.points)
    same_info = record == wanted and got_info.axis.first_wavenumber == 0.0 and \
        abs(got_info.axis.wavenumber_step - info.step) <= 1e-12 * info.step and \
        abs(got_info.mean - info.mean) <= 1e-12 * np.max(np.abs(y))
    group.check(error <= TOLERANCE and same_info,
                f"{what}: error {error:.2e}, (zpd, N, phase points, points) {record} against {wanted}, "
                f"mean {got_info.mean!r} against {info.mean!r}", error)


SHAPES = {"double-sided": lambda n: n // 2, "single-sided": lambda n: n // 16,
          "single-sided, ZPD at the end": lambda n: n - 1 - n // 16}


def check_every_option(lib, tally):
    group = tally.group("every apodization x zero-fill 1, 2, 4, 8 x Mertz and power, 1000 and 4096 points")
    r_cycle = iter([1, 2, 4, 8, 1, 2])
    for n in (1000, 4096):
        for seed, (shape, zpd) in enumerate(SHAPES.items()):
            r = next(r_cycle)
            y = interferogram(n, zpd(n), r, seed)
            for apodization in range(8):
                for zero_fill in (1, 2, 4, 8):
                    for phase in (ref.MERTZ, ref.POWER):
                        o = options(undersampling=r, apodization=apodization, zero_fill=zero_fill, phase=phase)
                        compare_process(lib, group, y, o, f"{n} points {shape} r {r} apodization {apodization} "
                                                          f"zero-fill {zero_fill} phase {phase}")
    group.end()


def check_long_interferograms(lib, tally):
    group = tally.group("16448 points, r 1, 2, 4, 8, zero-fill 1 and 8, Mertz and power")
    for seed, (shape, zpd) in enumerate(SHAPES.items()):
        for r in (1, 2, 4, 8):
            y = interferogram(16448, zpd(16448), r, 10 + seed)
            for zero_fill in (1, 8):
                for phase in (ref.MERTZ, ref.POWER):
                    o = options(undersampling=r, zero_fill=zero_fill, phase=phase)
                    compare_process(lib, group, y, o, f"{shape} r {r} zero-fill {zero_fill} phase {phase}")
    group.end()


def check_zpd_and_dc(lib, tally):
    group = tally.group("ZPD searches, a given ZPD, no DC removal")
    n = 1000
    for sign in (1.0, -1.0):
        y = interferogram(n, 400, 2, 20, sign)
        for search in (ref.LARGEST_MAGNITUDE, ref.LARGEST, ref.SMALLEST):
            o = options(zpd_search=search)
            zpd = I32(-1)
            code = lib.dorvane_spectrum_find_zpd(doubles(y), n, options_struct(o), zpd)
            expected = ref.find_zpd(ref.remove_dc(y, o)[0], o)
            group.check(code == 0 and zpd.value == expected,
                        f"find_zpd sign {sign} search {search}: {code}, {zpd.value} against {expected}")
            compare_process(lib, group, y, o, f"process sign {sign} search {search}")
    ties = np.array([0.0, 1.0, -3.0, 0.5, 3.0, -3.0, 0.2, 3.0])  # the first of equals, and no DC to blur them
    for search in (ref.LARGEST_MAGNITUDE, ref.LARGEST, ref.SMALLEST):
        o = options(zpd_search=search, remove_dc=0)
        zpd = I32(-1)
        code = lib.dorvane_spectrum_find_zpd(doubles(ties), ties.size, options_struct(o), zpd)
        group.check(code == 0 and zpd.value == ref.find_zpd(ties, o), f"ties, search {search}: {code}, {zpd.value}")
    y = interferogram(n, 500, 2, 21)
    # A ZPD a little off the middle (short + 1 < long: ramped), at either end (power only) and without DC.
    for zpd, phase in ((497, ref.MERTZ), (503, ref.MERTZ), (0, ref.POWER), (n - 1, ref.POWER), (1, ref.MERTZ)):
        compare_process(lib, group, y, options(zpd_search=ref.GIVEN, zpd_index=zpd, phase=phase),
                        f"given ZPD {zpd} phase {phase}")
    compare_process(lib, group, y, options(remove_dc=0), "no DC removal")
    group.end()


def check_refusals(lib, tally):
    group = tally.group("refusals: same code as the reference, buffer untouched")
    good = interferogram(64, 32, 2, 30)
    cases = [("one point", good[:1], {}), ("all equal", np.full(64, 0.5), {}),
             ("a NaN", np.where(np.arange(64) == 7, np.nan, good), {}),
             ("an infinity", np.where(np.arange(64) == 7, np.inf, good), {}),
             ("Mertz with no point left of the ZPD", good, {"zpd_search": ref.GIVEN, "zpd_index": 0}),
             ("zero-fill 3", good, {"zero_fill": 3}), ("undersampling 3", good, {"undersampling": 3}),
             ("apodization 8", good, {"apodization": 8}), ("given ZPD past the end", good,
                                                           {"zpd_search": ref.GIVEN, "zpd_index": 64}),
             ("phase resolution 0", good, {"phase_resolution": 0.0})]
    for what, y, changes in cases:
        o = options(**changes)
        try:
            ref.process(y, o)
            expected = 0
        except ref.SpectrumError as e:
            expected = e.code
        code, _, _, out = library_process(lib, np.ascontiguousarray(y), o)
        group.check(expected != 0 and code == expected and np.all(out == SENTINEL),
                    f"{what}: {code} against {expected}")
    code, _, _, out = library_process(lib, good, options(), capacity=ref.axis(64, options())[2] - 1)
    group.check(code == -7 and np.all(out == SENTINEL), f"a buffer one short: {code}")
    code, _, _, out = library_process(lib, good, options())
    group.check(code == 0 and out[-1] == SENTINEL, "a buffer of exactly the points: guard overwritten")
    for points, zero_fill in ((1 << 24, 1), ((1 << 23) + 1, 2), (1 << 21, 8), ((1 << 21) + 1, 8)):
        o = options(zero_fill=zero_fill)
        try:
            expected = ref.axis(points, o)[2]
        except ref.SpectrumError as e:
            expected = e.code
        axis = Axis()
        code = lib.dorvane_spectrum_axis_for(points, options_struct(o), axis)
        group.check((axis.points if code == 0 else code) == expected,
                    f"axis_for {points} points zero-fill {zero_fill}: {code} {axis.points} against {expected}")
    group.end()


def check_axis(lib, tally):
    group = tally.group("axis for every r and zero-fill, and the default options")
    default = Options()
    lib.dorvane_spectrum_default_options(default)
    wanted = ref.default_options()
    group.check(all(getattr(default, name) == getattr(wanted, name) for name, _ in Options._fields_
                    if name != "zpd_index"), "the default options differ from the header's")
    for n in (2, 1000, 4096, 16448):
        for r in (1, 2, 4, 8):
            for zero_fill in (1, 2, 4, 8):
                o = options(undersampling=r, zero_fill=zero_fill, laser_wavenumber=15797.9)
                first, step, points = ref.axis(n, o)
                axis = Axis()
                code = lib.dorvane_spectrum_axis_for(n, options_struct(o), axis)
                group.check(code == 0 and axis.points == points and axis.first_wavenumber == first and
                            abs(axis.wavenumber_step - step) <= 1e-12 * step and
                            abs(first + (points - 1) * step - 15797.9 / r) <= 1e-9 * step,
                            f"{n} points r {r} zero-fill {zero_fill}: {code} {axis.first_wavenumber} "
                            f"{axis.wavenumber_step} {axis.points} against {first} {step} {points}")
    group.end()


def check_ratio(lib, tally):
    group = tally.group("transmittance and absorbance, missing points and axis matching")
    rng = np.random.default_rng(40)
    points = 2049
    sample = rng.uniform(-0.2, 3.0, points)
    background = rng.uniform(-0.2, 3.0, points)
    sample[::97], background[5::101], background[7::89] = np.nan, 0.0, np.inf
    sample[11::83] = -np.inf
    axis = Axis(0.0, 7.7, points)
    for kind in (ref.TRANSMITTANCE, ref.ABSORBANCE):
        expected = ref.ratio(sample, background, kind)
        out = np.full(points + 1, SENTINEL)
        code = lib.dorvane_spectrum_ratio(doubles(sample), axis, doubles(background), axis, kind, doubles(out), points)
        got = out[:points]
        same_missing = np.array_equal(np.isnan(got), np.isnan(expected))
        defined = ~np.isnan(expected)
        error = float(np.max(np.abs(got[defined] - expected[defined])) / np.max(np.abs(expected[defined])))
        group.check(code == 0 and same_missing and error <= 1e-12 and out[-1] == SENTINEL,
                    f"kind {kind}: {code}, {int(np.sum(np.isnan(got)))} missing against "
                    f"{int(np.sum(~defined))}, error {error:.2e}", error)
    step = 7.7
    for what, other in (("one point more", (0.0, step, points + 1)),
                        ("step 1e-11 larger", (0.0, step * (1 + 1e-11), points)),
                        ("step 1e-7 larger", (0.0, step * (1 + 1e-7), points)),
                        ("first 1e-11 step later", (1e-11 * step, step, points)),
                        ("first 1e-7 step later", (1e-7 * step, step, points))):
        expected = 0 if ref.axes_match((0.0, step, points), other) else -8
        out = np.full(points + 2, SENTINEL)
        code = lib.dorvane_spectrum_ratio(doubles(sample), axis, doubles(np.resize(background, other[2])),
                                          Axis(*other), ref.TRANSMITTANCE, doubles(out), points + 1)
        group.check(code == expected and (code == 0 or np.all(out == SENTINEL)),
                    f"background axis {what}: {code} against {expected}")
    group.end()


def main():
    if len(sys.argv) != 2:
        print("usage: check_library.py LIBRARY", file=sys.stderr)
        return 2
    lib = load(sys.argv[1])
    tally = Tally()
    for check in (check_every_option, check_long_interferograms, check_zpd_and_dc, check_refusals,
                  check_axis, check_ratio):
        check(lib, tally)
    print(f"{tally.passed} passed, {tally.failed} failed")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
