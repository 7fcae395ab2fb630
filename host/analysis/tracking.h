// Bands followed through a series (--track NAME=LO:HI): what each measures in a spectrum, and the
// table the measures go to (host/files/series_file.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/analysis/processing.h"
#include "host/files/series_file.h"

namespace dorvane::host {

// "NAME=LO:HI", e.g. "CO2=2250:2450". Throws HostFailure (bad options) with the line that says what
// is wrong: a NAME empty or with a comma, quote or line break (it heads the table's columns), LO:HI
// not numbers in cm-1 with 0 <= LO < HI, or a name given twice.
std::vector<TrackedBand> parseTracks(const std::vector<std::string>& texts);

// The wavenumbers a spectrum made with `options` from interferograms sampled at `laserWavenumber`
// with undersampling `undersampling` can cover: from 0 to the folding limit, within --range.
WavenumberRange spectrumAxisFor(const ProcessingOptions& options, double laserWavenumber, std::int32_t undersampling);
// Throws HostFailure (bad options) for a band outside `axis`, before any file is written.
void checkTracksWithin(const std::vector<TrackedBand>& bands, const WavenumberRange& axis);

// The band's area over LO..HI above the straight line through the spectrum at LO and at HI
// (trapezoids, the ends interpolated), and its peak's height above that line and position (a
// parabola through the highest point and its neighbours). NaN for all three when a value in the
// range is missing. Throws HostFailure for a range the spectrum's axis does not cover or that holds
// no point of it.
BandMeasure measureBand(const SpectrumRecord& spectrum, const TrackedBand& band);
std::vector<BandMeasure> measureBands(const SpectrumRecord& spectrum, const std::vector<TrackedBand>& bands);

// The rise a - b exp(-t / tau) nearest to the points in least squares (tau searched on a
// logarithmic scale, a and b solved for each tau); none for fewer than four points with a
// value or a time span of zero.
std::optional<ExponentialRise> fitExponentialRise(const std::vector<double>& seconds, const std::vector<double>& values);

}  // namespace dorvane::host
