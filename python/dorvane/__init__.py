"""dorvane: the FTIR bench driver (libdorvane, dorvane.dll) and its spectra library from Python, through ctypes.

    import dorvane
    with dorvane.Bench("bench.ini") as bench:
        for coadd in bench.acquire(files=3, scans=16):
            print(coadd.index, coadd.time, coadd.volts.max())

dorvane.read(path) reads back a file the host saved (CSV or JCAMP-DX) as numpy arrays and a dict;
dorvane.save(record, path) writes one as the host writes it (coadd.record, spectrum.record(...)).
The performance qualification's measures (band_position, resolution, line_noise, ...) take numpy
arrays; dorvane.read_qualification(path) reads the report `dorvane qualify` writes.

The libraries are found through DORVANE_LIBRARY and DORVANE_SPECTRA_LIBRARY (their files' paths),
then beside this package, then on the system's library path.
"""
from ._errors import (AcquisitionTimeout, DorvaneError, LibraryNotFound, NO_NEW_SRQ, NO_SUCH_BLOCK, NOT_A_SERIAL_PORT,
                      NULL_POINTER, OPEN_NO_PORT, OPEN_SETUP_NOT_RECEIVED, OPEN_SETUP_NOT_SENT, PORT_BUSY, PORT_DENIED,
                      PORT_IN_USE, error_text)
from .bench import (STATUS_ACQUIRING, STATUS_IDLE, STATUS_NEVER_OPENED, Bench, Coadd, Status, StoredBlock,
                    parse_block_list, parse_setup)
from .files import SavedFile, read
from .processing import APODIZATIONS, Spectrum, spectrum
from .qualification import (BandPosition, Departure, LineNoise, Qualification, Resolution, Spread, band_position, burst,
                            default_limits, level, line_departure, line_noise, nominal_resolution, read_qualification,
                            resolution, spread)
from .saving import FileParameter, InterferogramRecord, SpectrumRecord, save

__version__ = "0.1.0"
