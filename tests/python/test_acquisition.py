# The binding against the virtual bench: the files it acquires, Ctrl-C, a port held elsewhere, a
# bench that vanishes.
import csv
import dataclasses
import fcntl
import glob
import os
import signal
import subprocess

import numpy as np
import pytest

import dorvane
from conftest import CHILD_SECONDS, built, run_python


def csv_columns(path, header):
    with open(path, newline="") as file:
        rows = [row for row in csv.reader(line for line in file if not line.startswith("#"))]
    assert rows[0] == header
    return np.array([[float(value) for value in row] for row in rows[1:]])


def test_files_equal_the_hosts_from_a_bench_of_the_same_seed(start_bench, tmp_path):
    for_host, for_python = start_bench("--seed", "11"), start_bench("--seed", "11")
    out = tmp_path / "host"
    host = subprocess.run([built("DORVANE_CLI"), "acquire", "--ini", for_host.settings, "--files", "2", "--scans", "4",
                           "--out", str(out), "--prefix", "run", "--no-plot", "--spectrum"],
                          env=for_host.environment(), capture_output=True, text=True, timeout=CHILD_SECONDS)
    assert host.returncode == 0, host.stderr
    os.environ["DORVANE_COM49"] = for_python.pty
    with dorvane.Bench(for_python.settings) as bench:
        coadds = list(bench.acquire(files=2, scans=4, timeout=30))
        assert repr(bench.status) == "<Status.IDLE: 4>" and bench.status == dorvane.STATUS_IDLE == 4
        # The port is free again at once: the next command goes through.
        assert bench.execute("whoAreYou") == bench.identity
        assert bench.setup["dataPoints"] == 1024 + 64
        assert [block.index for block in bench.stored_blocks()] == [0, 1]
        np.testing.assert_array_equal(bench.fetch(0), coadds[1].volts)  # newest first
    assert [coadd.index for coadd in coadds] == [1, 2]
    for coadd in coadds:
        host_volts = csv_columns(out / ("run-%03d.csv" % coadd.index), ["index", "volts"])
        assert len(coadd.volts) == 1024 + 64
        np.testing.assert_array_equal(coadd.volts, host_volts[:, 1])
        assert list(host_volts[:, 0]) == list(range(len(host_volts)))
        host_spectrum = csv_columns(out / ("run-%03d-single-beam.csv" % coadd.index), ["wavenumber", "value"])
        spectrum = dorvane.spectrum(coadd.volts, undersampling=2)
        np.testing.assert_array_equal(spectrum.wavenumbers, host_spectrum[:, 0])
        np.testing.assert_array_equal(spectrum.values, host_spectrum[:, 1])
        assert coadd.time.utcoffset().total_seconds() == 0
        # Saved by Python, each is the host's file byte for byte, but for the times (another run's).
        host_record = dorvane.read(out / ("run-%03d.jdx" % coadd.index)).record
        assert coadd.record.started_ms <= coadd.record.timestamp_ms
        mine = dataclasses.replace(coadd.record, timestamp_ms=host_record.timestamp_ms, started_ms=host_record.started_ms)
        for form in ("csv", "jdx"):
            saved = dorvane.save(mine, tmp_path / ("mine-%03d.%s" % (coadd.index, form)))
            with open(saved, "rb") as mine_file, open(out / ("run-%03d.%s" % (coadd.index, form)), "rb") as host_file:
                assert mine_file.read() == host_file.read(), saved
    assert coadds[0].time < coadds[1].time
    assert not np.array_equal(coadds[0].volts, coadds[1].volts)  # the noise differs from file to file


INTERRUPTED = """
import sys, dorvane
bench = dorvane.Bench(sys.argv[1])
try:
    for coadd in bench.acquire(files=0, scans=2, timeout=30):
        print("file", coadd.index, flush=True)
except KeyboardInterrupt:
    print("status", bench.status, flush=True)
    raise
"""


def test_ctrl_c_stops_the_acquisition_and_frees_the_port(start_bench):
    bench = start_bench()
    child = run_python(INTERRUPTED, bench.settings, env=bench.environment())
    try:
        assert child.stdout.readline() == "file 1\n", child.stderr.read() if child.poll() is not None else ""
        child.send_signal(signal.SIGINT)
        output, errors = child.communicate(timeout=CHILD_SECONDS)
    finally:
        child.kill()
    assert "status %d\n" % dorvane.STATUS_IDLE in output
    assert "KeyboardInterrupt" in errors
    assert child.returncode == -signal.SIGINT
    with dorvane.Bench(bench.settings) as again:
        assert [coadd.index for coadd in again.acquire(files=1, scans=2, timeout=30)] == [1]


def test_a_held_port_fails_with_its_code_and_phrase(start_bench):
    bench = start_bench()
    with open(bench.pty, "rb", buffering=0) as held:
        # The driver locks the device with flock; holding that lock is another program holding the port.
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        with pytest.raises(dorvane.DorvaneError) as refused:
            dorvane.Bench(bench.settings)
    assert (refused.value.export, refused.value.code) == ("spectrometer_open", dorvane.PORT_IN_USE)
    assert refused.value.phrase == "the serial device is in use by another program"
    assert bench.pty in str(refused.value)

    with dorvane.Bench(bench.settings) as opened:
        files = opened.acquire(files=3, scans=2, timeout=30)
        next(files)
        for busy in (lambda: opened.execute("shuttle"), opened.stored_blocks, lambda: opened.setup_text):
            with pytest.raises(dorvane.DorvaneError) as refused:
                busy()
            assert (refused.value.code, refused.value.phrase) == (dorvane.PORT_BUSY, "an acquisition holds the serial port")
        files.close()  # leaving the loop early stops the acquisition
        assert opened.status == dorvane.STATUS_IDLE
        assert opened.execute("shuttle") in (0, 1)


def test_a_vanished_bench_ends_the_acquisition_with_an_error(start_bench):
    bench = start_bench(per_scan_ms=100)
    with dorvane.Bench(bench.settings) as opened:
        # A file takes about 1 s; the time-out only ends the wait when the bench dies between files.
        files = opened.acquire(files=5, scans=4, timeout=15)
        next(files)
        bench.process.kill()
        with pytest.raises(dorvane.DorvaneError):
            for _ in files:
                pass
        assert opened.status != dorvane.STATUS_ACQUIRING
