// The measures a lab qualifies its bench with: a polystyrene film's band positions and resolution, a
// 100 % line's noise and departure, the energy (single-beam levels, the centre burst) and the spread
// of repeated figures. Plain functions over spans; transmittance goes in as a fraction, every figure
// about it comes out in %T. Missing points (NaN) are passed over.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "spectra/spectra.h"

namespace dorvane::spectra {

inline constexpr std::size_t kQualifyBands = 7;
inline constexpr std::size_t kResolutionPairs = 2;
inline constexpr std::size_t kNoiseRanges = 2;
inline constexpr std::size_t kEnergyPoints = 3;
inline constexpr std::size_t kRepeatBands = 2;

// Every limit of a qualification (units as in dorvane_qualify_limits, whose defaults these are).
struct QualifyLimits {
  std::array<double, kQualifyBands> bandPositions;   // cm-1
  std::array<double, kQualifyBands> bandTolerances;  // cm-1, either way
  double bandWindow;                                 // cm-1 either side of a listed position
  double bandLeastDepth;                             // %T
  std::array<double, kResolutionPairs> resolutionMaxima, resolutionMinima, resolutionWindows;  // cm-1
  std::array<double, kResolutionPairs> resolutionLeast;  // %T
  double resolutionCoarsest;                             // cm-1
  std::array<double, kNoiseRanges> noiseLow, noiseHigh;  // cm-1
  double noiseRmsMost, noisePeakToPeakMost;              // %T
  double departureLow, departureHigh;                    // cm-1
  double departureMost;                                  // %T
  double departureStretch;                               // cm-1
  std::array<double, kEnergyPoints> energyWavenumbers;   // cm-1
  double energyHalfWidth;                                // cm-1
  double energyLeastShare;                               // of the reference
  int repeatSamples;
  double repeatPositionMost;                             // cm-1
  std::array<double, kRepeatBands> repeatBands;          // cm-1
  double repeatPercentMost;                              // %T
};

// The defaults. Band positions, their tolerances and the resolution pairs with their least
// differences are the European Pharmacopoeia's (2.2.24) and USP <854>'s polystyrene check, the
// differences for a film about 0.04 mm thick. 2 cm-1 is the coarsest nominal resolution at which
// 1583 and 1589 cm-1 (6 cm-1 apart) still part after strong apodization. The rest are ours: a band
// at least 2 %T deep stands well clear of a healthy line's noise; 2000-2200 cm-1 has no water or CO2
// bands, 1000-1100 cm-1 is a second quiet stretch at the long end, where the detector is weaker;
// 0.1 %T RMS, 0.5 %T peak to peak and 2 %T of departure are what a healthy mid-infrared bench meets
// in a minute of scans; energy at 4400 (near the short end, where misalignment shows first), 2500
// (the middle, clear of CO2 and water) and 1000 cm-1 (the long end, where the source fades), 70 % of
// the reference: more than a healthy bench drifts, less than a misaligned one loses; 0.1 cm-1 (a
// tenth of the smallest tolerance) and 0.5 %T of spread over 5 samples. docs/processing.md tabulates them.
inline constexpr QualifyLimits kDefaultQualifyLimits{
    .bandPositions = {3060.0, 2849.5, 1942.9, 1601.2, 1583.0, 1154.5, 1028.3},
    .bandTolerances = {1.5, 1.5, 1.5, 1.0, 1.0, 1.0, 1.0},
    .bandWindow = 5,
    .bandLeastDepth = 2,
    .resolutionMaxima = {2870, 1589},
    .resolutionMinima = {2849.5, 1583},
    .resolutionWindows = {5, 2.5},
    .resolutionLeast = {18, 12},
    .resolutionCoarsest = 2,
    .noiseLow = {2000, 1000},
    .noiseHigh = {2200, 1100},
    .noiseRmsMost = 0.75,
    .noisePeakToPeakMost = 5,
    .departureLow = 700,
    .departureHigh = 4000,
    .departureMost = 2,
    .departureStretch = 20,
    .energyWavenumbers = {4400, 2500, 1000},
    .energyHalfWidth = 10,
    .energyLeastShare = 0.7,
    .repeatSamples = 5,
    .repeatPositionMost = 0.1,
    .repeatBands = {1601.2, 1028.3},
    .repeatPercentMost = 0.5,
};

// The points of an axis whose wavenumbers lie within [low, high], clipped to the axis: [begin, end).
struct PointRange {
  std::size_t begin = 0, end = 0;
  std::size_t size() const { return end - begin; }
};
// Error::BadOption for an axis without a finite positive step or for bounds that are not finite;
// Error::OutOfRange for low above high or a range holding fewer than `least` points of the axis.
Error pointsWithin(const Axis& axis, std::size_t values, double low, double high, std::size_t least, PointRange& range);

struct BandMinimum {
  double position;  // cm-1, at the parabola's vertex
  double percent;   // %T there
};
// The lowest point within listed ± window, which must stand at least leastDepth %T below the highest
// point on each side of it within the window (so it is not the window's first or last point), refined
// by the vertex of the parabola through it and its neighbours; not refined when a neighbour is missing.
Error bandPosition(std::span<const double> transmittance, const Axis& axis, double listed, double window,
                   double leastDepth, BandMinimum& band);

struct ResolutionDifference {
  double difference;  // %T
  double maximumAt, minimumAt;  // cm-1
};
// The highest %T within maximumNear ± window less the lowest within minimumNear ± window (points as
// measured: the pharmacopoeias read the two off the spectrum).
Error resolutionDifference(std::span<const double> transmittance, const Axis& axis, double maximumNear,
                           double minimumNear, double window, ResolutionDifference& result);

struct LineNoise {
  double mean, rms, peakToPeak, differenceRms;  // %T
  std::size_t points;
};
// A 100 % line's noise between low and high: at least 3 points present and one pair `stride` apart.
// The differences of points `stride` apart lose the line's slope and curvature, which a plain
// standard deviation counts as noise; over sqrt(2), as each difference holds two points' noise.
Error lineNoise(std::span<const double> transmittance, const Axis& axis, double low, double high, std::size_t stride,
                LineNoise& noise);

struct LineDeparture {
  double departure;   // %T from 100, negative below
  double wavenumber;  // cm-1
};
// The means of the line over consecutive stretches `stretch` cm-1 wide (one point at least) from low
// up: the one farthest from 100 %T, and the middle of its stretch.
Error lineDeparture(std::span<const double> transmittance, const Axis& axis, double low, double high, double stretch,
                    LineDeparture& result);

// The mean of a single beam's points within wavenumber ± halfWidth.
Error levelAt(std::span<const double> singleBeam, const Axis& axis, double wavenumber, double halfWidth, double& level);

// The interferogram's highest point less its lowest: at least 2 points, all finite.
Error burstAmplitude(std::span<const double> interferogram, double& amplitude);

struct Spread {
  double mean, standardDeviation;  // the sample's (n - 1)
};
// At least 2 values, all finite.
Error spreadOf(std::span<const double> values, Spread& spread);

// 1 / the longer side's path difference: the resolution before apodization.
double nominalResolution(std::size_t points, std::size_t zpd, const Sampling& sampling);

}  // namespace dorvane::spectra
