# examples/python/acquire.py as a user runs it, against the virtual bench: what it saves is what
# dorvane.read and the host take.
import os
import subprocess

import dorvane
from conftest import CHILD_SECONDS, built, run_python


def test_example_saves_three_files_and_a_spectrum_that_read_back(start_bench, tmp_path):
    bench = start_bench()
    folder = tmp_path / "out"
    with open(os.environ["DORVANE_PYTHON_EXAMPLE"]) as file:
        example = file.read()
    child = run_python(example, bench.settings, str(folder), env=bench.environment())
    output, errors = child.communicate(timeout=CHILD_SECONDS)
    assert child.returncode == 0, errors
    for index in (1, 2, 3):
        csv, jcamp = (dorvane.read(folder / ("interferogram-%03d.%s" % (index, form))) for form in ("csv", "jdx"))
        assert len(csv.y) == 1024 + 64 and (csv.y == jcamp.y).all()
        assert csv.metadata["scans"] == 16 and jcamp.title == "the example's sample"
    spectrum = dorvane.read(folder / "single-beam.csv")
    assert spectrum.kind == "single beam" and spectrum.x[-1] == 7899.0  # the folding limit at lasersamp=2
    assert "strongest at" in output
    # The host takes what the example saved.
    host = subprocess.run([built("DORVANE_CLI"), "spectrum", str(folder / "interferogram-001.jdx"), "--no-plot"],
                          capture_output=True, text=True, timeout=CHILD_SECONDS)
    assert host.returncode == 0, host.stderr
