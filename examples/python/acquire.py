"""Acquire three interferograms from the bench, save each as the host saves it (CSV and JCAMP-DX),
and save the single-beam spectrum of their mean.

    python3 acquire.py bench.ini [FOLDER]

bench.ini is the driver's settings file ([Settings] with port=, baud=, points=, lasersamp=...).
Ctrl-C stops the bench cleanly; the files already saved stay. An earlier run's files are never
replaced: take another folder.
"""
import dataclasses
import pathlib
import sys

import numpy as np

import dorvane

settings = sys.argv[1] if len(sys.argv) > 1 else "bench.ini"
folder = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "interferograms")
folder.mkdir(parents=True, exist_ok=True)

records = []
with dorvane.Bench(settings) as bench:  # opens the bench; closes it however the block ends
    print(f"bench family {bench.family} model {bench.model}: {bench.points} points a scan")
    # Each file arrives as soon as the bench has co-added its scans.
    for coadd in bench.acquire(files=3, scans=16, timeout=300):
        # The record holds what the host's files say: scans, gain, setup, sampling, times.
        record = dataclasses.replace(coadd.record, sample="the example's sample")
        for suffix in (".csv", ".jdx"):  # dorvane.read, the host and JCAMP-DX readers take both
            dorvane.save(record, folder / f"interferogram-{coadd.index:03d}{suffix}")
        print(f"file {coadd.index}: {len(coadd.volts)} points at {coadd.time:%H:%M:%S} UTC, saved in "
              f"{folder / f'interferogram-{coadd.index:03d}'}.csv and .jdx")
        records.append(record)

# The mean of the files, turned into a spectrum with the sampling the records name (the settings' lasersamp).
mean = dataclasses.replace(records[0], volts=np.mean([record.volts for record in records], axis=0))
single_beam = dorvane.spectrum(mean)
path = dorvane.save(single_beam.record(source="the mean of interferogram-001 to -003"), folder / "single-beam.csv")
in_range = (single_beam.wavenumbers > 400) & (single_beam.wavenumbers < 4000)
strongest = single_beam.wavenumbers[in_range][np.argmax(single_beam.values[in_range])]
print(f"single beam saved in {path}; strongest at {strongest:.1f} cm-1")
# With a background interferogram as well: dorvane.spectrum(sample, background=background) is the
# absorbance, ratio="transmittance" the transmittance; dorvane.read(path) reads any of these files back.
