// The bench's raw data: the interferogram of its source's spectrum, the co-add and the packing.
#include "sim/instrument_data.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>

#include "spectra/fft.h"

namespace dorvane::sim {
namespace {

constexpr double kMidpoint = 32768;
constexpr double kFullScale = 65535;
constexpr double kNoiseCounts = 4;  // the detector's noise, one standard deviation

// The open beam's centre burst: about 20000 counts from the midpoint, whatever the source's
// temperature and the filter, as if the bench's gain had been set for it; a sample in the beam
// takes its share away from that.
constexpr double kBurstCounts = 20000;
// The phase error: a constant, and a slope that puts the burst a fraction of a point late.
constexpr double kPhaseOffset = 0.2;  // rad
constexpr double kZpdLag = 0.3;       // points
// The transform spans at least this much path, so that the spectrum's grid (1 / path, 0.25 cm-1)
// is a tenth of the narrowest line's full width and the interferogram's periodic copies have died
// away.
constexpr double kShortestPathCm = 4;
constexpr std::size_t kCleanScansKept = 4;

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

unsigned undersamplingFor(std::uint8_t laserSamp) {
  switch (laserSamp) {
    case 0xE8: return 1;
    case 0xE2: return 4;
    case 0xC2: return 8;
    default: return 2;
  }
}

bool singleSidedFor(std::uint8_t adcStatus) { return (adcStatus & 0x02) != 0; }

std::uint32_t zpdIndex(std::uint32_t points, bool singleSided) {
  return singleSided ? std::min<std::uint32_t>(512, points / 4) : points / 2;
}

// The spectrum at the detector, sampled every 1 / (n dx) up to the folding limit with the phase
// that puts the burst at the ZPD, and transformed back: point j of the result lies j dx from the
// transform's start. The spectrum is zero at 0 and at the folding limit, so nothing folds.
std::vector<double> cleanInterferogram(std::uint32_t points, const ScanOptics& optics) {
  if (points == 0) return {};
  const double dx = optics.undersampling / (2 * kLaserWavenumber);
  const double foldingLimit = kLaserWavenumber / optics.undersampling;
  const std::size_t n = std::bit_ceil(std::max<std::size_t>(
      std::size_t{2} * points, static_cast<std::size_t>(std::ceil(kShortestPathCm / dx))));
  const double step = 1 / (static_cast<double>(n) * dx);
  const double burstAt = zpdIndex(points, optics.singleSided) + kZpdLag;
  const double fill = static_cast<double>(optics.cellFillStep) / kCellFillSteps;

  std::vector<std::complex<double>> spectrum(n / 2 + 1);
  double openBeamSum = 0;
  for (std::size_t k = 1; k < n / 2; ++k) {
    const double wavenumber = static_cast<double>(k) * step;
    const double open = openBeam(wavenumber, optics.temperature, foldingLimit);
    if (open == 0) continue;
    openBeamSum += open;
    // The phase of bin k, less whole turns, so that it stays exact for long scans.
    const double turns = std::fmod(static_cast<double>(k) * burstAt, static_cast<double>(n)) / static_cast<double>(n);
    spectrum[k] = std::polar(open * transmittance(optics.inBeam, wavenumber, fill),
                             kPhaseOffset - 2 * std::numbers::pi * turns);
  }
  std::vector<double> wave(n);
  spectra::realFftFor(n)->inverse(spectrum, wave);

  // The burst at the ZPD is about twice the sum of the bins (each bin and its mirror image).
  const double scale = openBeamSum > 0 ? kBurstCounts / (2 * openBeamSum) : 0;
  std::vector<double> scan(points);
  for (std::uint32_t i = 0; i < points; ++i) scan[i] = kMidpoint + scale * wave[i];
  return scan;
}

const std::vector<double>& CleanScans::get(std::uint32_t points, const ScanOptics& optics) {
  const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return entry.points == points && entry.optics == optics;
  });
  if (found != entries_.end()) return found->scan;
  const auto sameButFill = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    ScanOptics filledAlike = entry.optics;
    filledAlike.cellFillStep = optics.cellFillStep;
    return entry.points == points && filledAlike == optics;
  });
  if (sameButFill != entries_.end())
    entries_.erase(sameButFill);
  else if (entries_.size() == kCleanScansKept)
    entries_.pop_back();
  entries_.push_front({points, optics, cleanInterferogram(points, optics)});
  ++worked_;
  return entries_.front().scan;
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
