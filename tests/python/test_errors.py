# The binding's error phrases against the header's, and the message when a library cannot be found.
import os
import subprocess

import dorvane
from conftest import built, run_python


def test_every_phrase_is_the_headers():
    lines = subprocess.run([built("DORVANE_ERROR_PHRASES")], check=True, capture_output=True, text=True).stdout
    header = dict(line.split("\t", 1) for line in lines.splitlines())
    assert len(header) == 401
    disagreeing = {code: (phrase, dorvane.error_text(int(code))) for code, phrase in header.items()
                   if dorvane.error_text(int(code)) != phrase}
    assert disagreeing == {}


def test_every_named_number_is_the_headers():
    lines = subprocess.run([built("DORVANE_ERROR_PHRASES"), "constants"], check=True, capture_output=True,
                           text=True).stdout
    header = {name: int(value) for name, value in (line.split("\t") for line in lines.splitlines())}
    binding = {"DORVANE_MOST_COADD_POINTS": dorvane.bench.MOST_COADD_POINTS,
               "DORVANE_MOST_BLOCK_POINTS": dorvane.bench.MOST_BLOCK_POINTS,
               "DORVANE_REMOTE_DATA_LIST_SIZE": dorvane.bench.REMOTE_DATA_LIST_SIZE,
               "DORVANE_SETUP_TEXT_SIZE": dorvane.bench.SETUP_TEXT_SIZE,
               "DORVANE_ZPD_GIVEN": dorvane.processing.ZPD_GIVEN}
    named = {"DORVANE_APODIZATION_": dorvane.APODIZATIONS, "DORVANE_PHASE_": dorvane.processing.PHASES,
             "DORVANE_RATIO_": dorvane.processing.RATIOS}
    for name in header:
        prefix = next((prefix for prefix in named if name.startswith(prefix)), None)
        if prefix:
            option = name.removeprefix(prefix).lower().replace("_", "-")
            binding[name] = named[prefix].index(option) if option in named[prefix] else None
        else:
            short = name.removeprefix("DORVANE_ERROR_").removeprefix("DORVANE_")
            binding.setdefault(name, getattr(dorvane, short, None))
    assert binding == header


def test_missing_library_says_where_it_looked_and_what_to_do(tmp_path):
    script = ("import dorvane\n"
              "try:\n"
              "    dorvane.Bench('bench.ini')\n"
              "except dorvane.LibraryNotFound as failure:\n"
              "    print(failure)\n")
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("DORVANE_LIBRARY", "LD_LIBRARY_PATH")}
    child = run_python(script, env=environment)
    output, errors = child.communicate(timeout=60)
    assert child.returncode == 0, errors
    package = os.path.dirname(dorvane.__file__)
    for told in ("DORVANE_LIBRARY is not set", "libdorvane.so.0", "libdorvane.so", package, "set DORVANE_LIBRARY"):
        assert told in output
    assert output.count("\n") == 1

    missing = str(tmp_path / "libdorvane.so")
    child = run_python(script, env=dict(environment, DORVANE_LIBRARY=missing))
    output, errors = child.communicate(timeout=60)
    assert child.returncode == 0, errors
    assert "DORVANE_LIBRARY=" + missing in output
