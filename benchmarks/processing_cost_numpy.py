# The numpy side of processing_cost: times the reference implementation's steps on the interferograms
# processing_cost wrote (raw float64 files), with the default options.
# Usage: processing_cost_numpy.py REFERENCE_DIR REPETITIONS FILE...
# Prints per file: POINTS and the median seconds of DC ZPD APODIZE FFT PHASE WHOLE.
import statistics
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, sys.argv[1])
import numpy as np  # noqa: E402
import numpy_spectra as ref  # noqa: E402


def median_seconds(repetitions, step):
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        result = step()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def main():
    repetitions = int(sys.argv[2])
    o = ref.default_options()
    for path in sys.argv[3:]:
        interferogram = np.fromfile(path, dtype=np.float64)
        size = ref.transform_points(interferogram.size, o)
        dc, (y, _) = median_seconds(repetitions, lambda: ref.remove_dc(interferogram, o))
        zpd, z = median_seconds(repetitions, lambda: ref.find_zpd(y, o))
        apodize, u = median_seconds(repetitions, lambda: ref.apodize(y, z, size, o))
        fft, f = median_seconds(repetitions, lambda: ref.fft(u))
        phase, _ = median_seconds(repetitions, lambda: ref.phase_correct(f, y, z, size, o))
        whole, _ = median_seconds(repetitions, lambda: ref.process(interferogram, o))
        print(interferogram.size, dc, zpd, apodize, fft, phase, whole, flush=True)


if __name__ == "__main__":
    main()
