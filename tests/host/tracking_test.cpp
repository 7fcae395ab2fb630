// Tracked bands measured in made-up spectra whose answers are known, and the rise fitted to them.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "host/analysis/tracking.h"
#include "host/os/host_failure.h"

namespace dorvane::host {
namespace {

// A Gaussian band of `height` at `centre` (cm-1), `width` to 1/e, on the sloping line 2 + x / 1000,
// a point every 0.5 cm-1 from 1000 to 3000 cm-1.
SpectrumRecord bandOnASlope(double height, double centre, double width) {
  SpectrumRecord spectrum;
  for (double x = 1000; x <= 3000; x += 0.5) {
    spectrum.wavenumbers.push_back(x);
    spectrum.values.push_back(2 + x / 1000 + height * std::exp(-std::pow((x - centre) / width, 2)));
  }
  return spectrum;
}

TEST(TrackedBand, AreaHeightAndPositionAboveTheLineThroughTheEnds) {
  // The peak between two points: the parabola finds it; the area is height x width x sqrt(pi).
  const BandMeasure band = measureBand(bandOnASlope(0.8, 2349.2, 10), {"CO2", 2250.2, 2450.2});
  EXPECT_NEAR(band.area, 0.8 * 10 * std::sqrt(std::numbers::pi), 1e-3);
  EXPECT_NEAR(band.height, 0.8, 2e-3);
  EXPECT_NEAR(band.position, 2349.2, 0.01);

  SpectrumRecord gap = bandOnASlope(0.8, 2349.2, 10);
  gap.values[2700] = std::nan("");  // 2350 cm-1
  EXPECT_TRUE(std::isnan(measureBand(gap, {"CO2", 2250, 2450}).area)) << "a gap leaves the measures empty";

  for (const TrackedBand& outside : {TrackedBand{"low", 900, 1100}, TrackedBand{"high", 2900, 3100},
                                     TrackedBand{"narrow", 2000.1, 2000.2}}) {
    EXPECT_THROW(measureBand(gap, outside), HostFailure) << outside.name;
  }
}

TEST(TrackedBand, OptionsRefuseWhatWouldBreakTheTable) {
  EXPECT_EQ(parseTracks({"CO2=2250:2450", "bend=600:740"}).at(1).high, 740);
  for (const char* bad : {"CO2", "=1:2", "a,b=1:2", "a\"b=1:2", " a=1:2", "a=2:1", "a=1", "a=x:2", "a=-1:2"}) {
    EXPECT_THROW(parseTracks({bad}), HostFailure) << bad;
  }
  EXPECT_THROW(parseTracks({"a=1:2", "a=3:4"}), HostFailure) << "a name twice";
  EXPECT_THROW(checkTracksWithin(parseTracks({"a=100:8000"}), {0, 7899}), HostFailure);
}

TEST(RiseFit, FindsTheTimeConstantOfANoisyRise) {
  std::vector<double> seconds, values;
  for (int i = 0; i < 30; ++i) {
    seconds.push_back(2.0 * i);
    // A fixed wobble of 1 % of the level stands in for noise.
    values.push_back(20 - 19 * std::exp(-seconds.back() / 20) + 0.2 * std::sin(7.0 * i));
  }
  const std::optional<ExponentialRise> rise = fitExponentialRise(seconds, values);
  ASSERT_TRUE(rise);
  EXPECT_NEAR(rise->tau, 20, 1);
  EXPECT_NEAR(rise->a, 20, 0.5);
  EXPECT_FALSE(fitExponentialRise({0, 1, 2}, {1, 2, 3})) << "three points cannot fix three unknowns";
}

}  // namespace
}  // namespace dorvane::host
