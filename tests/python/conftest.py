# What the binding's tests share: the virtual bench as a program, a settings file for it, and a
# Python child that runs a script with the binding. The build hands over its programs and
# libraries through the environment (tests/python/CMakeLists.txt).
import os
import shutil
import subprocess
import sys

import pytest

PORT = 49  # the settings' port=49 is DORVANE_COM49, the virtual bench's pty
CHILD_SECONDS = 60  # what a child gets before a test calls it hung


def built(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.fail("%s is not set: run these tests through ctest, which names the build's files" % variable)
    return path


class VirtualBench:
    """dorvane-benchsim on a pty of its own, with a settings file that points the driver at it."""

    def __init__(self, folder, *options):
        self.process = subprocess.Popen([built("DORVANE_BENCHSIM"), *options], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.pty = self.process.stdout.readline().strip()
        if not self.pty.startswith("/dev/"):
            self.stop()
            pytest.fail("dorvane-benchsim printed no pty: %r" % self.pty)
        self.settings = str(folder / ("bench-%d.ini" % self.process.pid))
        with open(self.settings, "w") as file:
            file.write("[Settings]\nport=%d\nbaud=38400\npoints=1024\nlasersamp=2\n" % PORT)

    def environment(self):
        return dict(os.environ, **{"DORVANE_COM%d" % PORT: self.pty})

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(CHILD_SECONDS)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    if report.when == "call":
        item.call_passed = report.passed
    folder = item.funcargs.get("tmp_path") if hasattr(item, "funcargs") else None
    if report.failed and folder is not None:
        report.sections.append(("scratch folder", "kept: %s" % folder))


@pytest.fixture
def tmp_path(tmp_path, request):
    """pytest's own folder for the test, removed once the test has passed and kept after a failure."""
    yield tmp_path
    if getattr(request.node, "call_passed", False):
        shutil.rmtree(tmp_path, ignore_errors=True)


@pytest.fixture
def start_bench(tmp_path, monkeypatch):
    """start_bench(*benchsim options): a running virtual bench that this process's driver reaches."""
    benches = []

    def start(*options, per_scan_ms=5):
        bench = VirtualBench(tmp_path, "--per-scan", str(per_scan_ms), *options)
        benches.append(bench)
        monkeypatch.setenv("DORVANE_COM%d" % PORT, bench.pty)
        return bench

    yield start
    for bench in benches:
        bench.stop()


def run_python(script, *arguments, env=None, **popen):
    """Starts /usr/bin/python3 (this interpreter) on `script` with the binding importable."""
    return subprocess.Popen([sys.executable, "-c", script, *arguments], env=env or dict(os.environ),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen)
