// The bench's raw data: interferogram, co-add and packing.
#include "sim/instrument_data.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dorvane::sim {
namespace {

constexpr double kMidpoint = 32768;
constexpr double kFullScale = 65535;
constexpr double kNoiseCounts = 4;  // the detector's noise, one standard deviation

// The centre burst: a few spectral lines, each a cosine about the burst's centre, under one
// Gaussian envelope. Their amplitudes add to well under half the scale, so a scan never clips.
struct Line {
  double amplitude;       // counts at the centre
  double cyclesPerPoint;  // the line's place in the spectrum
};
constexpr Line kLines[] = {{9000, 0.031}, {6000, 0.067}, {4000, 0.113}, {2000, 0.19}};
constexpr double kBurstWidth = 24;  // points: the envelope's standard deviation

}  // namespace

unsigned pointSizeFor(PointSize option, unsigned scans) {
  if (option != PointSize::Auto) return static_cast<unsigned>(option);
  const std::uint64_t fullScale = std::uint64_t{scans} * 65535;
  for (const unsigned bytes : {2u, 3u}) {
    if (fullScale <= largestCount(bytes)) return bytes;
  }
  return 4;
}

std::uint32_t largestCount(unsigned bytes) {
  return bytes >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * bytes)) - 1;
}

std::vector<double> cleanInterferogram(std::uint32_t points) {
  std::vector<double> scan(points);
  const double centre = points / 2;
  for (std::uint32_t i = 0; i < points; ++i) {
    const double x = i - centre;
    const double envelope = std::exp(-(x * x) / (2 * kBurstWidth * kBurstWidth));
    double burst = 0;
    for (const Line& line : kLines)
      burst += line.amplitude * std::cos(2 * std::numbers::pi * line.cyclesPerPoint * x);
    scan[i] = kMidpoint + envelope * burst;
  }
  return scan;
}

std::vector<std::uint32_t> coAdd(const std::vector<double>& clean, unsigned scans, std::uint32_t largest,
                                 std::mt19937_64& random) {
  std::normal_distribution<double> noise(0, kNoiseCounts);
  std::vector<std::uint64_t> sums(clean.size(), 0);
  for (unsigned scan = 0; scan < scans; ++scan) {
    for (std::size_t i = 0; i < clean.size(); ++i)
      sums[i] += static_cast<std::uint64_t>(std::lround(std::clamp(clean[i] + noise(random), 0.0, kFullScale)));
  }
  std::vector<std::uint32_t> counts(clean.size());
  for (std::size_t i = 0; i < sums.size(); ++i)
    counts[i] = static_cast<std::uint32_t>(std::min<std::uint64_t>(sums[i], largest));
  return counts;
}

void packPoints(const std::vector<std::uint32_t>& counts, unsigned bytes, std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + counts.size() * bytes);
  for (const std::uint32_t count : counts) {
    for (unsigned shift = 8 * bytes; shift > 0; shift -= 8)
      out.push_back(static_cast<std::uint8_t>(count >> (shift - 8)));
  }
}

}  // namespace dorvane::sim
