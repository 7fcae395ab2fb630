# The package installed offline with pip into a virtual environment, as docs/python.md says, with the
# libraries copied beside it: found there without DORVANE_LIBRARY; the source tree left as it was.
import os
import shutil
import subprocess
import sys

from conftest import CHILD_SECONDS, built

IMPORTED = """
import dorvane, dorvane._library as library, numpy
assert dorvane.spectrum(numpy.cos(numpy.arange(64.0))).values.size == 65
print(dorvane.__file__)
print(library.driver.get()._name)
print(library.driver.get().spectrometer_getStatus())
"""


def test_pip_installs_offline_and_finds_the_libraries_beside_the_package(tmp_path):
    source = tmp_path / "source"
    shutil.copytree(os.environ["DORVANE_PYTHON_SOURCE"], source, ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(built("DORVANE_LIBRARY"), source / "dorvane" / "libdorvane.so")
    shutil.copy(built("DORVANE_SPECTRA_LIBRARY"), source / "dorvane" / "libdorvane_spectra.so")
    before = sorted(path.relative_to(source) for path in source.rglob("*"))
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True, timeout=CHILD_SECONDS)
    install = subprocess.run([str(venv / "bin" / "pip"), "install", "--no-build-isolation", "--no-index", str(source)],
                             capture_output=True, text=True, timeout=CHILD_SECONDS)
    assert install.returncode == 0, install.stdout + install.stderr
    assert sorted(path.relative_to(source) for path in source.rglob("*")
                  if "__pycache__" not in path.parts) == before  # no build/ or dorvane.egg-info/

    environment = {name: value for name, value in os.environ.items()
                   if name not in ("PYTHONPATH", "DORVANE_LIBRARY", "DORVANE_SPECTRA_LIBRARY", "LD_LIBRARY_PATH")}
    run = subprocess.run([str(venv / "bin" / "python"), "-c", IMPORTED], cwd=tmp_path, env=environment,
                         capture_output=True, text=True, timeout=CHILD_SECONDS)
    assert run.returncode == 0, run.stderr
    package, driver, status = run.stdout.splitlines()
    installed = str(venv / "lib")
    assert package.startswith(installed)
    assert driver.startswith(installed) and driver.endswith("libdorvane.so")
    assert status == "0"  # never opened
