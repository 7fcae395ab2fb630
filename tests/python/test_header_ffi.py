# dorvane.h as an FFI reader takes it: cffi's cdef reads the preprocessor's plain declarations and
# the header's named numbers, and the library answers through them.
import os
import re
import subprocess

import cffi

from conftest import built

SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")


def preprocessed(*options):
    header = os.path.join(SOURCE, "include", "dorvane.h")
    return subprocess.run([built("DORVANE_C_COMPILER"), "-E", "-DDORVANE_DECLARATIONS_ONLY", *options, header],
                          check=True, capture_output=True, text=True).stdout


def test_cffi_reads_every_export_and_number_and_calls_the_library():
    declarations = preprocessed("-P")
    # cdef takes a #define of a plain integer only: "(-23)" is written -23.
    numbers = re.findall(r"^#define (DORVANE_\w+) \(?(-?\d+)\)?$", preprocessed("-dM"), re.MULTILINE)
    ffi = cffi.FFI()
    ffi.cdef(declarations + "".join("#define %s %s\n" % number for number in numbers))

    with open(os.path.join(SOURCE, "tests", "abi", "exports.txt")) as listed:
        exports = set(listed.read().split())
    assert set(re.findall(r"(\w+)\(", declarations)) == exports
    driver = ffi.dlopen(built("DORVANE_LIBRARY"))
    assert driver.spectrometer_getStatus() == driver.DORVANE_STATUS_NEVER_OPENED
    assert driver.spectrometer_open(0) == driver.DORVANE_OPEN_NO_PORT  # no settings loaded
