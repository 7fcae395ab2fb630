// The qualification measures on made-up spectra whose answers are known: Lorentzian bands at given
// places, a 100 % line with known noise on a slope, and the C interface's refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dorvane_spectra.h"
#include "spectra/qualification.h"

namespace dorvane::spectra {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

struct Absorption {
  double position;    // cm-1
  double absorbance;  // at the centre
  double halfWidth;   // cm-1, half width at half height
};

// The grid of a 65536-point transform at the default sampling: about 0.24 cm-1 a step, as the host
// makes it; the film's bands fall anywhere between its points.
const Axis kFilmAxis{0, 15798.0 / 2 / 32768, 32769};

// Transmittance (a fraction) of Lorentzian absorption bands on a line at `base`.
std::vector<double> transmittance(const Axis& axis, const std::vector<Absorption>& bands, double base = 0.9) {
  std::vector<double> values(axis.points);
  for (std::size_t k = 0; k < axis.points; ++k) {
    double absorbance = 0;
    for (const Absorption& band : bands)
      absorbance += band.absorbance / (1 + std::pow((axis.at(k) - band.position) / band.halfWidth, 2));
    values[k] = base * std::pow(10.0, -absorbance);
  }
  return values;
}

TEST(BandPosition, LorentzianBandsAreFoundBetweenPointsAndNoBandIsNeverABand) {
  const QualifyLimits& limits = kDefaultQualifyLimits;
  // Each band a little off its listed place (as a bench's axis error would put it), with neighbours
  // on its flanks as in the film.
  std::vector<Absorption> bands;
  for (std::size_t i = 0; i < kQualifyBands; ++i)
    bands.push_back({limits.bandPositions[i] + 0.137 * static_cast<double>(i % 3) - 0.11, 0.4, 1.5});
  bands.push_back({3026.4, 0.8, 3});
  bands.push_back({1592.0, 0.05, 2});
  const std::vector<double> film = transmittance(kFilmAxis, bands);
  for (std::size_t i = 0; i < kQualifyBands; ++i) {
    BandMinimum found{};
    ASSERT_EQ(bandPosition(film, kFilmAxis, limits.bandPositions[i], limits.bandWindow, limits.bandLeastDepth, found),
              Error::None)
        << limits.bandPositions[i];
    EXPECT_NEAR(found.position, bands[i].position, 0.02) << limits.bandPositions[i];
  }

  // A missing point in the window is passed over; a missing neighbour leaves the point unrefined.
  std::vector<double> gappy = film;
  const auto at = [](double wavenumber) { return static_cast<std::size_t>(std::lround(wavenumber / kFilmAxis.step)); };
  gappy[at(1154.5 - 3)] = kNan;
  BandMinimum found{};
  ASSERT_EQ(bandPosition(gappy, kFilmAxis, 1154.5, 5, 2, found), Error::None);
  EXPECT_NEAR(found.position, bands[5].position, 0.02);
  const double nearest = kFilmAxis.at(at(bands[6].position));
  gappy[at(bands[6].position) + 1] = kNan;
  ASSERT_EQ(bandPosition(gappy, kFilmAxis, 1028.3, 5, 2, found), Error::None);
  EXPECT_DOUBLE_EQ(found.position, nearest);

  // No film: a flat line, a shallow dip, a band just past the window (its flank makes the window's
  // edge the lowest point), a slope.
  const std::vector<double> flat(kFilmAxis.points, 0.9);
  EXPECT_EQ(bandPosition(flat, kFilmAxis, 1601.2, 5, 2, found), Error::NoBand);
  EXPECT_EQ(bandPosition(transmittance(kFilmAxis, {{1601.2, 0.005, 1.5}}), kFilmAxis, 1601.2, 5, 2, found),
            Error::NoBand);
  EXPECT_EQ(bandPosition(transmittance(kFilmAxis, {{1607.0, 0.4, 1.5}}), kFilmAxis, 1601.2, 5, 2, found),
            Error::NoBand);
  std::vector<double> slope(kFilmAxis.points);
  for (std::size_t k = 0; k < slope.size(); ++k) slope[k] = 0.5 + kFilmAxis.at(k) * 1e-4;
  EXPECT_EQ(bandPosition(slope, kFilmAxis, 1601.2, 5, 0, found), Error::NoBand);
}

TEST(Resolution, DifferenceOfTheMaximumAndTheMinimumNearTheirPlaces) {
  // A band at 2849.5 falling to 30 %T from a line at 80 %T; the maximum near 2870 is what is left
  // of the line there, the band's far tail taking off 0.12 %T.
  const Axis axis{2800, 0.25, 400};
  const std::vector<double> values = transmittance(axis, {{2849.5, std::log10(0.8 / 0.3), 1}}, 0.8);
  ResolutionDifference found{};
  ASSERT_EQ(resolutionDifference(values, axis, 2870, 2849.5, 5, found), Error::None);
  EXPECT_NEAR(found.difference, 49.88, 0.01);
  EXPECT_DOUBLE_EQ(found.minimumAt, 2849.5);
  EXPECT_DOUBLE_EQ(found.maximumAt, 2875);  // the window's edge farthest from the band
}

TEST(HundredPercentLine, DifferencesMeasureTheNoiseThatASlopeHidesAndTheDepartureKeepsItsSign) {
  // 0.1 %T of Gaussian noise on a line that climbs 2 %T over the range, with a zero-filled axis's
  // neighbours sharing noise: every second point is independent.
  const Axis axis{1900, 0.12, 4000};
  std::mt19937 random(37);
  std::normal_distribution<double> noise(0, 0.001);
  std::vector<double> line(axis.points);
  for (std::size_t k = 0; k < line.size(); k += 2) {
    line[k] = 1 + (axis.at(k) - 2100) * 1e-4 + noise(random);
    if (k + 1 < line.size()) line[k + 1] = line[k];
  }
  LineNoise found{};
  ASSERT_EQ(lineNoise(line, axis, 2000, 2200, 2, found), Error::None);
  EXPECT_GT(found.rms, 0.5);  // the slope's 2 %T, not noise
  EXPECT_NEAR(found.differenceRms, 0.1, 0.01);
  EXPECT_NEAR(found.mean, 100, 0.05);
  EXPECT_GT(found.peakToPeak, 2);
  EXPECT_EQ(found.points, 1667u);
  ASSERT_EQ(lineNoise(line, axis, 2000, 2200, 1, found), Error::None);
  EXPECT_LT(found.differenceRms, 0.08);  // neighbours that share their noise hide half of it

  // A spike of the noise and a bend of the line: point by point the spike is farthest, over stretches
  // of 20 cm-1 the bend.
  std::vector<double> bent(axis.points, 1.0);
  bent[100] = 1.015;
  bent[3000] = 0.97;
  bent[3001] = kNan;
  for (std::size_t k = 3300; k < 3500; ++k) bent[k] = 0.99;
  LineDeparture departure{};
  ASSERT_EQ(lineDeparture(bent, axis, 1900, 2400, axis.step / 2, departure), Error::None);
  EXPECT_NEAR(departure.departure, -3, 1e-9);
  EXPECT_DOUBLE_EQ(departure.wavenumber, axis.at(3000));
  ASSERT_EQ(lineDeparture(bent, axis, 1900, 2200, axis.step / 2, departure), Error::None);
  EXPECT_NEAR(departure.departure, 1.5, 1e-9);
  ASSERT_EQ(lineDeparture(bent, axis, 1900, 2400, 20, departure), Error::None);
  EXPECT_NEAR(departure.departure, -1, 1e-9);
  EXPECT_GT(departure.wavenumber, axis.at(3300));
  EXPECT_LT(departure.wavenumber, axis.at(3500));
}

// Every refusal of the C interface: one code, and nothing written.
TEST(QualifyCInterface, BadInputIsRefusedWithItsCodeAndNothingWritten) {
  const std::vector<double> film = transmittance(kFilmAxis, {{1601.2, 0.4, 1.5}});
  const dorvane_spectrum_axis axis{kFilmAxis.first, kFilmAxis.step, static_cast<int32_t>(kFilmAxis.points)};
  double position = 7, percent = 7;
  const auto band = [&](double listed, double window, double depth, const dorvane_spectrum_axis* on = nullptr) {
    return dorvane_qualify_band_position(film.data(), on ? on : &axis, listed, window, depth, &position, &percent);
  };
  EXPECT_EQ(band(1601.2, 0, 2), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(band(kNan, 5, 2), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(band(1601.2, kNan, 2), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(band(1601.2, 5, kNan), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(band(9000, 5, 2), DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);  // past the axis's end
  EXPECT_EQ(band(1601.2, 0.1, 2), DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);  // fewer than 3 points
  const dorvane_spectrum_axis backwards{8000, -kFilmAxis.step, axis.points};
  EXPECT_EQ(band(1601.2, 5, 2, &backwards), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(dorvane_qualify_band_position(nullptr, &axis, 1601.2, 5, 2, &position, &percent),
            DORVANE_SPECTRA_ERROR_NULL_POINTER);
  EXPECT_EQ(band(1583.0, 5, 2), DORVANE_SPECTRA_ERROR_NO_BAND);
  EXPECT_EQ(position, 7);
  EXPECT_EQ(percent, 7);
  ASSERT_EQ(band(1601.2, 5, 2), DORVANE_SPECTRA_OK);
  EXPECT_NEAR(position, 1601.2, 0.02);
  EXPECT_NEAR(percent, 90 * std::pow(10, -0.4), 0.5);

  double difference = 7, at = 7;
  EXPECT_EQ(dorvane_qualify_resolution(film.data(), &axis, 1620, 1601.2, -1, &difference, &at, &at),
            DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(dorvane_qualify_resolution(film.data(), &axis, 1620, -50, 5, &difference, nullptr, nullptr),
            DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);
  dorvane_line_noise noise{7, 7, 7, 7, 7};
  EXPECT_EQ(dorvane_qualify_line_noise(film.data(), &axis, 2200, 2000, 1, &noise), DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);
  EXPECT_EQ(dorvane_qualify_line_noise(film.data(), &axis, 2000, 2200, 0, &noise), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(dorvane_qualify_line_noise(film.data(), &axis, 2000, 2001, 4, &noise),  // no pair 4 points apart
            DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);
  std::vector<double> missing = film;
  for (std::size_t k = 8000; k < 9000; ++k) missing[k] = kNan;
  EXPECT_EQ(dorvane_qualify_line_departure(missing.data(), &axis, 2000, 2100, 20, &difference, &at),
            DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);
  EXPECT_EQ(dorvane_qualify_level(film.data(), &axis, 20000, 10, &difference), DORVANE_SPECTRA_ERROR_OUT_OF_RANGE);
  EXPECT_EQ(dorvane_qualify_level(film.data(), &axis, 2000, kNan, &difference), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(difference, 7);
  EXPECT_EQ(at, 7);
  EXPECT_EQ(noise.points, 7);

  const double values[] = {1, 2, kNan};
  double mean = 7, deviation = 7;
  EXPECT_EQ(dorvane_qualify_spread(values, 1, &mean, &deviation), DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS);
  EXPECT_EQ(dorvane_qualify_spread(values, 3, &mean, &deviation), DORVANE_SPECTRA_ERROR_NOT_FINITE);
  EXPECT_EQ(dorvane_qualify_burst(values, 3, &mean), DORVANE_SPECTRA_ERROR_NOT_FINITE);
  EXPECT_EQ(mean, 7);
  EXPECT_EQ(deviation, 7);
  ASSERT_EQ(dorvane_qualify_spread(values, 2, &mean, &deviation), DORVANE_SPECTRA_OK);
  EXPECT_DOUBLE_EQ(deviation, std::sqrt(0.5));  // n - 1

  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  double resolution = 7;
  EXPECT_EQ(dorvane_spectrum_nominal_resolution(1001, 1001, &options, &resolution), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  EXPECT_EQ(dorvane_spectrum_nominal_resolution(1, 0, &options, &resolution), DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS);
  EXPECT_EQ(resolution, 7);
  // 800 points past the ZPD, each 2 / (2 x 15798) cm: 15798 / 800 cm-1.
  ASSERT_EQ(dorvane_spectrum_nominal_resolution(1001, 200, &options, &resolution), DORVANE_SPECTRA_OK);
  EXPECT_DOUBLE_EQ(resolution, 15798.0 / 800);
  EXPECT_STREQ(dorvane_spectra_error_text(DORVANE_SPECTRA_ERROR_NO_BAND),
               "no band where one was looked for: no minimum deep enough inside the window (is the film in the beam?)");
}

}  // namespace
}  // namespace dorvane::spectra
