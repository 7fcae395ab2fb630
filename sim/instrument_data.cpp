// The bench's raw data: the interferogram of its source's spectrum, the co-add and the packing.
#include "sim/instrument_data.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

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

// Misalignment. The moving mirror tilted by theta across a beam of radius R tilts the wavefronts of
// the two arms by 2 theta against each other: the path difference varies by 2 theta y across the
// beam, and the beam's round cross-section averages the fringes of wavenumber sigma to
// 2 J1(u) / u of their full modulation, u = 4 pi sigma R theta. High wavenumbers lose it first.
constexpr double kBeamRadiusCm = 1.25;

// The share of a wavenumber's modulation that a mirror tilted by `microradians` keeps: 2 J1(u) / u
// over the beam's round cross-section, 1 with no tilt.
double tiltModulation(double wavenumber, double microradians) {
  const double u = 4 * std::numbers::pi * wavenumber * kBeamRadiusCm * microradians * 1e-6;
  return u < 1e-9 ? 1 : 2 * std::cyl_bessel_j(1.0, u) / u;
}

// The tilt is no constant either: it wanders as the mirror travels, so that each path difference
// sees its own modulation and the fringes fade with the path. Taken as the Gaussian that
// 2 J1(u) / u is for small u, that fading is a Gaussian envelope of the interferogram whose width
// falls as 1 / (sigma theta): in the spectrum, a Gaussian blur of standard deviation
// kWanderBlur sigma theta (cm-1, theta in radians). The constant is ours, set so that a bench
// tilted by 40 microradians, one a lab would call out of alignment, fails the polystyrene film's
// resolution check (and, by the modulation lost, the energy check at 4400 cm-1), while one tilted
// by 10 passes both.
constexpr double kWanderBlur = 55;

// Blurs narrower than this, in bins of the spectrum's grid, leave the spectrum as it is.
constexpr double kNarrowestBlurBins = 0.25;

// Spreads each bin of `light` (bin k at k step cm-1) into a Gaussian of the width that the tilt's
// wander gives its wavenumber: kWanderBlur k step theta cm-1, which is kWanderBlur k theta bins.
// The light's total stays the same.
void blurByTiltWander(std::vector<double>& light, double microradians) {
  const double theta = microradians * 1e-6;
  std::vector<double> blurred(light.size(), 0);
  std::vector<double> kernel;
  for (std::size_t k = 0; k < light.size(); ++k) {
    if (light[k] == 0) continue;
    const double width = kWanderBlur * static_cast<double>(k) * theta;  // bins
    if (width < kNarrowestBlurBins) {
      blurred[k] += light[k];
      continue;
    }
    // The Gaussian's values at 0, 1, 2 ... bins by its recurrence, g(j + 1) = g(j) a^(2j + 1).
    const auto reach = static_cast<std::size_t>(std::ceil(4 * width));
    const double a = std::exp(-1 / (2 * width * width));
    kernel.assign(reach + 1, 1);
    double ratio = a;
    for (std::size_t j = 1; j <= reach; ++j, ratio *= a * a) kernel[j] = kernel[j - 1] * ratio;
    double total = kernel[0];
    for (std::size_t j = 1; j <= reach; ++j) total += 2 * kernel[j];
    const double share = light[k] / total;
    blurred[k] += share * kernel[0];
    for (std::size_t j = 1; j <= reach; ++j) {
      if (k + j < blurred.size()) blurred[k + j] += share * kernel[j];
      if (j <= k) blurred[k - j] += share * kernel[j];
    }
  }
  light = std::move(blurred);
}

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
//
// A laser off by some ppm: the bench takes a point at every r-th zero crossing of the laser's real
// fringes, so the points lie dx = r / (2 sigmaL (1 + ppm 1e-6)) apart, while a host reckons with the
// nominal sigmaL: a band at sigma shows at sigma / (1 + ppm 1e-6). The spectrum is worked out on the
// real grid; the optical filter and the response are glass and coatings, fixed in real wavenumbers
// for the nominal laser.
std::vector<double> cleanInterferogram(std::uint32_t points, const ScanOptics& optics) {
  if (points == 0) return {};
  const BenchFaults& faults = optics.faults;
  const double laserWavenumber = kLaserWavenumber * (1 + faults.laserErrorPpm * 1e-6);
  const double dx = optics.undersampling / (2 * laserWavenumber);
  const double foldingLimit = kLaserWavenumber / optics.undersampling;
  const std::size_t n = std::bit_ceil(std::max<std::size_t>(
      std::size_t{2} * points, static_cast<std::size_t>(std::ceil(kShortestPathCm / dx))));
  const double step = 1 / (static_cast<double>(n) * dx);
  const double burstAt = zpdIndex(points, optics.singleSided) + kZpdLag;
  const double fill = static_cast<double>(optics.cellFillStep) / kCellFillSteps;

  // The light the detector sees, and what a healthy bench's open beam would give, which sets the gain.
  std::vector<double> light(n / 2 + 1, 0);
  double openBeamSum = 0;
  for (std::size_t k = 1; k < n / 2; ++k) {
    const double wavenumber = static_cast<double>(k) * step;
    const double open = openBeam(wavenumber, optics.temperature, foldingLimit);
    if (open == 0) continue;
    openBeamSum += open;
    light[k] = open * transmittance(optics.inBeam, wavenumber, fill) * faults.sourceOutput *
               tiltModulation(wavenumber, faults.misalignmentMicroradians);
  }
  if (faults.misalignmentMicroradians > 0) blurByTiltWander(light, faults.misalignmentMicroradians);

  std::vector<std::complex<double>> spectrum(n / 2 + 1);
  for (std::size_t k = 1; k < n / 2; ++k) {
    if (light[k] == 0) continue;
    // The phase of bin k, less whole turns, so that it stays exact for long scans.
    const double turns = std::fmod(static_cast<double>(k) * burstAt, static_cast<double>(n)) / static_cast<double>(n);
    spectrum[k] = std::polar(light[k], kPhaseOffset - 2 * std::numbers::pi * turns);
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
                                 std::mt19937_64& random, double noiseFactor) {
  // A normal distribution needs a width above 0: a noiseless detector draws nothing.
  std::normal_distribution<double> noise(0, noiseFactor > 0 ? kNoiseCounts * noiseFactor : 1);
  std::vector<std::uint64_t> sums(clean.size(), 0);
  for (unsigned scan = 0; scan < scans; ++scan) {
    for (std::size_t i = 0; i < clean.size(); ++i) {
      const double drawn = noiseFactor > 0 ? noise(random) : 0;
      sums[i] += static_cast<std::uint64_t>(std::lround(std::clamp(clean[i] + drawn, 0.0, kFullScale)));
    }
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
