"""Acquire three interferograms from the bench, save each as CSV, and save their single-beam spectrum.

    python3 acquire.py bench.ini [FOLDER]

bench.ini is the driver's settings file ([Settings] with port=, baud=, points=, lasersamp=...).
Ctrl-C stops the bench cleanly; the files already saved stay.
"""
import pathlib
import sys

import numpy as np

import dorvane

settings = sys.argv[1] if len(sys.argv) > 1 else "bench.ini"
folder = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "interferograms")
folder.mkdir(parents=True, exist_ok=True)

interferograms = []
with dorvane.Bench(settings) as bench:  # opens the bench; closes it however the block ends
    print(f"bench family {bench.family} model {bench.model}: {bench.points} points a scan")
    # Each file arrives as soon as the bench has co-added its scans.
    for coadd in bench.acquire(files=3, scans=16, timeout=300):
        path = folder / f"interferogram-{coadd.index:03d}.csv"
        with open(path, "x") as file:  # "x": never replace an earlier run's file
            np.savetxt(file, coadd.volts, header=f"volts, co-added {bench.scans} scans, {coadd.time:%Y-%m-%d %H:%M:%S} UTC")
        print(f"file {coadd.index}: {len(coadd.volts)} points, saved in {path}")
        interferograms.append(coadd.volts)

# The mean of the files, turned into a spectrum. undersampling must be the settings' lasersamp.
single_beam = dorvane.spectrum(np.mean(interferograms, axis=0), undersampling=2)
path = folder / "single-beam.csv"
with open(path, "x") as file:
    np.savetxt(file, np.column_stack([single_beam.wavenumbers, single_beam.values]), delimiter=",",
               header="wavenumber (cm-1),single beam (arbitrary units)")
in_range = (single_beam.wavenumbers > 400) & (single_beam.wavenumbers < 4000)
strongest = single_beam.wavenumbers[in_range][np.argmax(single_beam.values[in_range])]
print(f"single beam saved in {path}; strongest at {strongest:.1f} cm-1")
# With a background interferogram as well: dorvane.spectrum(sample, background=background) is the
# absorbance, ratio="transmittance" the transmittance.
