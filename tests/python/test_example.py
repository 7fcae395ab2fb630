# examples/python/acquire.py as a user runs it, against the virtual bench.
import os

import numpy as np

from conftest import CHILD_SECONDS, run_python


def test_example_saves_three_files_and_a_spectrum(start_bench, tmp_path):
    bench = start_bench()
    folder = tmp_path / "out"
    with open(os.environ["DORVANE_PYTHON_EXAMPLE"]) as file:
        example = file.read()
    child = run_python(example, bench.settings, str(folder), env=bench.environment())
    output, errors = child.communicate(timeout=CHILD_SECONDS)
    assert child.returncode == 0, errors
    for index in (1, 2, 3):
        assert len(np.loadtxt(folder / ("interferogram-%03d.csv" % index))) == 1024 + 64
    spectrum = np.loadtxt(folder / "single-beam.csv", delimiter=",")
    assert spectrum[-1, 0] == 7899.0  # the folding limit at lasersamp=2
    assert "strongest at" in output
