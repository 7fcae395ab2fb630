# dorvane.read against the files the host saves: the same numbers and header from CSV as from
# JCAMP-DX, and one clear ValueError naming the file for anything foreign, damaged or cut short;
# dorvane.save writing them again byte for byte.
import subprocess

import numpy as np
import pytest

import dorvane
from conftest import CHILD_SECONDS, VirtualBench, built


def host(*arguments, env=None):
    run = subprocess.run([built("DORVANE_CLI"), *arguments], env=env, capture_output=True, text=True,
                         timeout=CHILD_SECONDS)
    assert run.returncode == 0, run.stdout + run.stderr


def test_csv_and_jcamp_dx_of_each_saved_file_read_the_same(tmp_path):
    bench = VirtualBench(tmp_path, "--per-scan", "5")
    try:
        host("acquire", "--ini", bench.settings, "--out", str(tmp_path), "--no-plot", "--files", "1", "--scans", "2",
             "--spectrum", "--prefix", "run", "--sample", "5 mg KBr", env=bench.environment())
    finally:
        bench.stop()
    # A ratio's kind as well: the file against itself, offline.
    host("spectrum", str(tmp_path / "run-001.csv"), "--background", str(tmp_path / "run-001.jdx"),
         "--ratio", "transmittance", "--no-plot")

    for stem, kind in (("run-001", "interferogram"), ("run-001-single-beam", "single beam"),
                       ("run-001-transmittance", "transmittance")):
        csv, jcamp = dorvane.read(tmp_path / (stem + ".csv")), dorvane.read(str(tmp_path / (stem + ".jdx")))
        assert (csv.kind, csv.format, jcamp.kind, jcamp.format) == (kind, "csv", kind, "jcamp-dx")
        assert csv.path == str(tmp_path / (stem + ".csv"))
        # Both forms hold the exact doubles.
        assert csv.x.dtype == csv.y.dtype == np.float64
        assert np.array_equal(csv.x, jcamp.x) and np.array_equal(csv.y, jcamp.y, equal_nan=True)
        shared = csv.metadata.keys() & jcamp.metadata.keys()
        assert {"laser wavenumber", "undersampling", "zpd index"} <= shared
        assert {name: csv.metadata[name] for name in shared} == {name: jcamp.metadata[name] for name in shared}
        assert csv.metadata["points"] == jcamp.metadata["NPOINTS"] == len(csv.y)
        assert csv.metadata["undersampling"] == 2 and csv.metadata["laser wavenumber"] == 15798
        if kind == "interferogram":
            assert np.array_equal(csv.x, np.arange(1024 + 64))
            assert csv.metadata["scans"] == 2 and csv.metadata["sample"] == "5 mg KBr" == jcamp.title
            assert jcamp.metadata["setup dataPoints"] == 1024 + 64
        else:
            assert np.all(np.diff(csv.x) > 0) and csv.x[-1] == 7899.0  # the folding limit at lasersamp=2
    assert np.nanmax(np.abs(csv.y - 1)) < 1e-9  # the transmittance of a file against itself

    # Each file read and saved again by Python is the host's, byte for byte; a spectrum's two forms
    # carry the same record, so each makes the other.
    again = tmp_path / "again"
    again.mkdir()
    for name in ("run-001.csv", "run-001.jdx", "run-001-single-beam.csv", "run-001-single-beam.jdx",
                 "run-001-transmittance.csv", "run-001-transmittance.jdx"):
        record = dorvane.read(tmp_path / name).record
        assert dorvane.save(record, again / name) == str(again / name)
        assert (again / name).read_bytes() == (tmp_path / name).read_bytes(), name
        if "-" in name[4:]:
            other = name[:-3] + ("jdx" if name.endswith(".csv") else "csv")
            dorvane.save(record, again / ("from-" + other))
            assert (again / ("from-" + other)).read_bytes() == (tmp_path / other).read_bytes(), other
    # Python's own spectrum of the host's interferogram record is the host's file, as it names its source.
    interferogram = dorvane.read(tmp_path / "run-001.jdx").record
    dorvane.save(dorvane.spectrum(interferogram).record(source="run-001.jdx"), again / "mine.csv")
    assert (again / "mine.csv").read_bytes() == (tmp_path / "run-001-single-beam.csv").read_bytes()
    # A name that holds a file is kept unless told; nothing else is left in the folder.
    with pytest.raises(FileExistsError):
        dorvane.save(record, again / "run-001.csv")
    assert (again / "run-001.csv").read_bytes() == (tmp_path / "run-001.csv").read_bytes()
    dorvane.save(dorvane.read(tmp_path / "run-001.jdx").record, again / "run-001.csv", overwrite=True)
    assert dorvane.read(again / "run-001.csv").kind == "interferogram"
    assert sorted(path.name for path in again.iterdir() if path.name.startswith(".")) == []


INTERFEROGRAM_CSV = "# dorvane interferogram: t\n# points: 3\nindex,volts\n0,0.5\n1,-0.25\n2,0.125\n"
INTERFEROGRAM_JCAMP = ("##TITLE=t\n##DATA TYPE=INFRARED INTERFEROGRAM\n##YFACTOR=0.125\n##NPOINTS=3\n"
                       "##XYDATA=(X++(Y..Y))\n0 4 -2 1\n##END=\n")


@pytest.mark.parametrize("text, fault", [
    ("index,volts\n0,0.5\n", "not an interferogram or a spectrum saved by dorvane"),
    (INTERFEROGRAM_CSV[:-8], "says 3 points but holds 2 (cut short?)"),
    (INTERFEROGRAM_JCAMP[:-8], "ends before ##END= (cut short?)"),
    (INTERFEROGRAM_CSV.replace("points: 3", "points: 4"), "says 4 points but holds 3"),
    (INTERFEROGRAM_JCAMP.replace("NPOINTS=3", "NPOINTS=4000000"), "says 4000000 points but is only"),
    (INTERFEROGRAM_CSV.replace("-0.25", "-0.2x"), 'line 5: "-0.2x" is not a number'),
    (INTERFEROGRAM_JCAMP.replace("0 4", "1 4"), "line 6: the line starts at point 1 where 0 belongs"),
])
def test_a_foreign_damaged_or_cut_short_file_raises_one_value_error_naming_it(tmp_path, text, fault):
    path = tmp_path / "given"
    path.write_text(text)
    with pytest.raises(ValueError) as raised:
        dorvane.read(path)
    assert str(raised.value).startswith(str(path) + ": ") and fault in str(raised.value)
