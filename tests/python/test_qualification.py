# The qualification measures from Python on made-up spectra with known answers (the figures the C
# library's own tests hold it to), the limits record as the library fills it, and the reader of
# qualification.json refusing what is not one.
import json

import numpy as np
import pytest

import dorvane

STEP = 15798.0 / 2 / 32768  # a 65536-point transform's grid at the default sampling
WAVENUMBERS = STEP * np.arange(32769)


def film(bands, base=0.9):
    """Transmittance of Lorentzian bands (position, absorbance, half width) on a line at `base`."""
    absorbance = sum(a / (1 + ((WAVENUMBERS - p) / w) ** 2) for p, a, w in bands)
    return base * 10 ** -absorbance


def test_the_measures_find_what_was_made_and_the_limits_come_whole():
    limits = dorvane.default_limits()
    assert limits["band_positions"] == [3060.0, 2849.5, 1942.9, 1601.2, 1583.0, 1154.5, 1028.3]
    # The record's last fields land where the library wrote them only if every field before is declared right.
    assert (limits["repeat_samples"], limits["repeat_bands"], limits["repeat_percent_most"]) == (5, [1601.2, 1028.3], 0.5)

    made = [p + 0.137 * (i % 3) - 0.11 for i, p in enumerate(limits["band_positions"])]
    spectrum = film([(p, 0.4, 1.5) for p in made])
    for listed, position in zip(limits["band_positions"], made):
        assert dorvane.band_position(WAVENUMBERS, spectrum, listed).position == pytest.approx(position, abs=0.02)
    with pytest.raises(dorvane.DorvaneError) as no_band:
        dorvane.band_position(WAVENUMBERS, np.full(len(WAVENUMBERS), 0.9), 1601.2)
    assert no_band.value.code == dorvane.qualification.NO_BAND and "film" in str(no_band.value)

    found = dorvane.resolution(WAVENUMBERS, spectrum, 1620, made[3], 5)
    assert found.difference == pytest.approx(90 - 90 * 10 ** -0.4, abs=0.5)

    random = np.random.default_rng(37)
    line = 1 + (WAVENUMBERS - 2100) * 1e-4 + random.normal(0, 0.001, len(WAVENUMBERS))
    noise = dorvane.line_noise(WAVENUMBERS, line, 2000, 2200)
    assert noise.rms > 0.5 and noise.difference_rms == pytest.approx(0.1, rel=0.1)
    line[9000] = 0.96
    assert dorvane.line_departure(WAVENUMBERS, line, 2000, 2200, stretch=1e-3) == pytest.approx((-4, WAVENUMBERS[9000]))

    assert dorvane.level(WAVENUMBERS, np.full(len(WAVENUMBERS), 3.0), 2500) == 3.0
    assert dorvane.burst([0, 1, -2.5, 0.5]) == 3.5
    assert dorvane.spread([1, 2]) == (1.5, pytest.approx(np.sqrt(0.5)))
    assert dorvane.nominal_resolution(1001, 200) == pytest.approx(15798.0 / 800)
    assert dorvane.nominal_resolution(1001, 200, undersampling=1) == pytest.approx(2 * 15798.0 / 800)

    with pytest.raises(ValueError, match="equal steps"):
        dorvane.band_position(WAVENUMBERS[::-1], spectrum, 1601.2)
    with pytest.raises(dorvane.DorvaneError) as reversed_range:
        dorvane.line_noise(WAVENUMBERS, line, 2200, 2000)
    assert reversed_range.value.code == dorvane.qualification.OUT_OF_RANGE


def test_a_report_is_read_and_anything_else_is_refused_in_one_line_naming_the_file(tmp_path):
    report = {"format": "dorvane qualification 1", "made": "2026-12-09T21:40:03Z", "verdict": "fail",
              "failures": ["hundred percent line: rms 0.31 %T in 2000-2200 cm-1 (most 0.1)"],
              "tests": {"hundred_percent_line": {"passed": False, "rms_most": 0.1}}}
    path = tmp_path / "qualification.json"
    path.write_text(json.dumps(report))
    read = dorvane.read_qualification(path)
    assert (read.passed, read.failures, read.tests, read.document) == (False, report["failures"], report["tests"], report)

    other_version = json.dumps(dict(report, format="dorvane qualification 2"))
    for content, fault in ((other_version, "format is 'dorvane qualification 2'"),
                           (json.dumps({"verdict": "pass"}), "format is missing"),
                           ("[1, 2]", "format is missing"),
                           ("wavenumber,transmittance\n", "not UTF-8 JSON"),
                           (json.dumps(dict(report, verdict="maybe")), "damaged")):
        path.write_text(content)
        with pytest.raises(ValueError) as refused:
            dorvane.read_qualification(path)
        assert str(refused.value).startswith(str(path) + ": ") and fault in str(refused.value)
        assert "\n" not in str(refused.value)
