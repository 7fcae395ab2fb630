// The processing steps from interferogram to spectrum, and the ratio of two spectra.
#include "spectra/spectra.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>

#include "spectra/fft.h"

namespace dorvane::spectra {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

std::size_t shortSide(std::size_t points, std::size_t zpd) { return std::min(zpd, points - 1 - zpd); }
std::size_t longSide(std::size_t points, std::size_t zpd) { return std::max(zpd, points - 1 - zpd); }

// Sum of coefficients times powers of q.
double polynomial(std::initializer_list<double> coefficients, double q) {
  double value = 0, power = 1;
  for (const double c : coefficients) {
    value += c * power;
    power *= q;
  }
  return value;
}

// The window at x (0 to 1) given c = cos(pi x), which only the cosine windows read: cos 2c and cos 3c
// come from it (Chebyshev).
double windowFromCosine(Apodization apodization, double x, double c) {
  const double q = 1 - x * x;
  switch (apodization) {
    case Apodization::Boxcar: return 1;
    case Apodization::Triangular: return 1 - x;
    case Apodization::HappGenzel: return 0.54 + 0.46 * c;
    case Apodization::BlackmanHarris3: return 0.42323 + 0.49755 * c + 0.07922 * (2 * c * c - 1);
    case Apodization::BlackmanHarris4:
      return 0.35875 + 0.48829 * c + 0.14128 * (2 * c * c - 1) + 0.01168 * (4 * c * c - 3) * c;
    case Apodization::NortonBeerWeak: return polynomial({0.384093, -0.087577, 0.703484}, q);
    case Apodization::NortonBeerMedium: return polynomial({0.152442, -0.136176, 0.983734}, q);
    case Apodization::NortonBeerStrong: return polynomial({0.045335, 0, 0.554883, 0, 0.399782}, q);
  }
  return 1;
}

bool readsCosine(Apodization apodization) {
  return apodization == Apodization::HappGenzel || apodization == Apodization::BlackmanHarris3 ||
         apodization == Apodization::BlackmanHarris4;
}

// Multiplies zpd[d * direction], d = from .. to-1, by the window at x = d / side (1 past the side's
// end). The cosines come in runs of kRun: cos(a + i t) = cos a cos i t - sin a sin i t, with cos a and
// sin a computed anew for each run and cos i t, sin i t from a table, so two cosines a run instead of
// one a point, and no error carried from one run to the next.
void windowOneSide(double* zpd, std::ptrdiff_t direction, std::size_t from, std::size_t to, std::size_t side,
                   Apodization apodization) {
  if (side == 0) {  // only the ZPD itself lies on a side of no points
    if (from == 0 && to > 0) *zpd *= windowFromCosine(apodization, 0, 1);
    return;
  }
  constexpr std::size_t kRun = 64;
  const double toX = 1 / static_cast<double>(side);
  const bool cosine = readsCosine(apodization);
  double runCos[kRun], runSin[kRun];
  if (cosine) {
    for (std::size_t i = 0; i < kRun; ++i) {
      runCos[i] = std::cos(std::numbers::pi * static_cast<double>(i) * toX);
      runSin[i] = std::sin(std::numbers::pi * static_cast<double>(i) * toX);
    }
  }
  for (std::size_t start = from; start < to; start += kRun) {
    const std::size_t end = std::min(to, start + kRun);
    const double angle = std::numbers::pi * static_cast<double>(start) * toX;
    const double startCos = cosine ? std::cos(angle) : 1, startSin = cosine ? std::sin(angle) : 0;
    for (std::size_t d = start; d < end; ++d) {
      const std::size_t i = d - start;
      const double x = d >= side ? 1.0 : static_cast<double>(d) * toX;
      const double c = d >= side ? -1.0 : cosine ? startCos * runCos[i] - startSin * runSin[i] : 0;
      zpd[static_cast<std::ptrdiff_t>(d) * direction] *= windowFromCosine(apodization, x, c);
    }
  }
}

// The size of a complex number; the plain root of the squares where they neither overflow nor lose
// precision (std::abs calls hypot, which costs as much as the rest of a bin's work).
double magnitudeOf(std::complex<double> z) {
  const double squares = z.real() * z.real() + z.imag() * z.imag();
  constexpr double kSmallest = std::numeric_limits<double>::min();
  return squares > kSmallest && squares <= std::numeric_limits<double>::max() ? std::sqrt(squares) : std::abs(z);
}

double meanOf(std::span<const double> points) {
  double sum = 0;
  for (const double v : points) sum += v;
  return sum / static_cast<double>(points.size());
}

// The ZPD of points - mean, found without writing them.
std::size_t findZpdAbout(std::span<const double> points, ZpdSearch search, std::size_t given, double mean) {
  if (points.empty()) return 0;
  const auto below = [mean](double a, double b) { return a - mean < b - mean; };
  switch (search) {
    case ZpdSearch::Largest:
      return static_cast<std::size_t>(std::max_element(points.begin(), points.end(), below) - points.begin());
    case ZpdSearch::Smallest:
      return static_cast<std::size_t>(std::min_element(points.begin(), points.end(), below) - points.begin());
    case ZpdSearch::Given:
      return given;
    case ZpdSearch::LargestMagnitude:
      break;
  }
  // Two plain passes, the largest size and then its first place, which the compiler can vectorise.
  double largest = 0;
  for (const double v : points) largest = std::max(largest, std::abs(v - mean));
  std::size_t j = 0;
  while (j + 1 < points.size() && std::abs(points[j] - mean) != largest) ++j;
  return j;
}

// The points held as their two sides from the ZPD, so that the pipeline can shape them where they
// already lie in the transform: right[d] is d points after the ZPD (d < after, right[0] the ZPD
// itself), left[-d] d points before it (d = 1 .. before).
struct TwoSides {
  double* right;
  std::size_t after;
  double* left;
  std::size_t before;
};

TwoSides sidesInPlace(std::span<double> points, std::size_t zpd) {
  return {points.data() + zpd, points.size() - zpd, points.data() + zpd, zpd};
}

void apodizeSides(TwoSides points, Apodization apodization, SideLengths sides) {
  if (apodization == Apodization::Boxcar) return;
  windowOneSide(points.right, 1, 0, points.after, sides.right, apodization);
  windowOneSide(points.left, -1, 1, points.before + 1, sides.left, apodization);
}

void rampSides(TwoSides points, std::size_t shortSideLength) {
  const auto s = static_cast<double>(shortSideLength);
  if (s == 0) return;
  const bool longOnRight = points.after - 1 >= points.before;
  const auto factor = [s](double t) { return t > s ? 2.0 : (t + s) / s; };
  for (std::size_t d = 0; d < points.after; ++d) {
    const auto distance = static_cast<double>(d);
    points.right[d] *= factor(longOnRight ? distance : -distance);
  }
  for (std::size_t d = 1; d <= points.before; ++d) {
    const auto distance = static_cast<double>(d);
    points.left[-static_cast<std::ptrdiff_t>(d)] *= factor(longOnRight ? -distance : distance);
  }
}

// Index of `offset` points from the ZPD in a transform whose first point is the ZPD.
std::size_t wrapped(std::ptrdiff_t offset, std::size_t length) {
  return offset >= 0 ? static_cast<std::size_t>(offset) : length - static_cast<std::size_t>(-offset);
}

}  // namespace

Error checkOptions(const Options& options) {
  const Sampling& s = options.sampling;
  const int r = s.undersampling;
  const int fill = options.zeroFill;
  if (!(s.laserWavenumber > 0) || !std::isfinite(s.laserWavenumber)) return Error::BadOption;
  if (r != 1 && r != 2 && r != 4 && r != 8) return Error::BadOption;
  if (fill != 1 && fill != 2 && fill != 4 && fill != 8) return Error::BadOption;
  if (options.phase == Phase::Mertz && (!(options.phaseResolution > 0) || !std::isfinite(options.phaseResolution)))
    return Error::BadOption;
  return Error::None;
}

Error checkInterferogram(std::span<const double> points) {
  if (points.size() < 2) return Error::TooFewPoints;
  // One pass for both: v - v is 0 for a finite v and NaN otherwise.
  const double first = points[0];
  bool finite = true, differs = false;
  for (const double v : points) {
    finite &= v - v == 0;
    differs |= v != first;
  }
  if (!finite) return Error::NotFinite;
  return differs ? Error::None : Error::NoSignal;
}

double removeDc(std::span<double> points) {
  if (points.empty()) return 0;
  const double mean = meanOf(points);
  for (double& v : points) v -= mean;
  return mean;
}

std::size_t findZpd(std::span<const double> points, ZpdSearch search, std::size_t given) {
  return findZpdAbout(points, search, given, 0.0);  // v - 0 is v for every v
}

double apodizationAt(Apodization apodization, double x) {
  x = std::clamp(x, 0.0, 1.0);
  return windowFromCosine(apodization, x, readsCosine(apodization) ? std::cos(std::numbers::pi * x) : 0);
}

bool needsMertzRamp(std::size_t points, std::size_t zpd) {
  return shortSide(points, zpd) + 1 < longSide(points, zpd);
}

SideLengths apodizationSides(std::size_t points, std::size_t zpd, Phase phase) {
  if (phase == Phase::Mertz && needsMertzRamp(points, zpd)) {
    const std::size_t side = longSide(points, zpd);
    return {side, side};
  }
  return {zpd, points - 1 - zpd};
}

void apodize(std::span<double> points, std::size_t zpd, Apodization apodization, SideLengths sides) {
  if (zpd >= points.size()) return;
  apodizeSides(sidesInPlace(points, zpd), apodization, sides);
}

void applyMertzRamp(std::span<double> points, std::size_t zpd) {
  if (zpd >= points.size()) return;
  rampSides(sidesInPlace(points, zpd), shortSide(points.size(), zpd));
}

std::size_t transformLength(std::size_t points, int zeroFill) {
  if (points == 0 || zeroFill < 1 || points > kMostTransformPoints) return 0;
  const std::size_t wanted = points * static_cast<std::size_t>(zeroFill);
  const std::size_t length = std::max<std::size_t>(std::bit_ceil(wanted), 2);
  return length > kMostTransformPoints ? 0 : length;
}

void rotateIntoTransform(std::span<const double> points, std::size_t zpd, std::span<double> transform) {
  // The ZPD and what follows it first, the points before it at the end, zeros between: each point of
  // the transform written once.
  const std::size_t after = points.size() - zpd;
  std::copy(points.begin() + static_cast<std::ptrdiff_t>(zpd), points.end(), transform.begin());
  std::fill(transform.begin() + static_cast<std::ptrdiff_t>(after), transform.end() - static_cast<std::ptrdiff_t>(zpd), 0.0);
  std::copy(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(zpd), transform.end() - static_cast<std::ptrdiff_t>(zpd));
}

std::size_t phaseHalfLength(const Options& options, std::size_t points, std::size_t zpd) {
  const double wanted = std::round(1 / (options.phaseResolution * options.sampling.spacingCm()));
  const std::size_t half = wanted < 1 ? 1 : wanted > static_cast<double>(points) ? points : static_cast<std::size_t>(wanted);
  return std::min(shortSide(points, zpd), half);
}

void phaseStretch(std::span<const double> points, std::size_t zpd, std::size_t half, std::span<double> transform) {
  std::fill(transform.begin(), transform.end(), 0.0);
  if (half == 0) return;
  const auto h = static_cast<std::ptrdiff_t>(half);
  for (std::ptrdiff_t d = -h; d <= h; ++d) {
    const double weight = 1 - static_cast<double>(std::abs(d)) / static_cast<double>(half);
    transform[wrapped(d, transform.size())] = points[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(zpd) + d)] * weight;
  }
}

std::size_t phaseTransformLength(std::size_t half, std::size_t length) {
  return std::min(length, std::max<std::size_t>(2, std::bit_ceil(2 * (2 * half + 1))));
}

void correctPhase(std::span<const std::complex<double>> spectrum, std::span<const std::complex<double>> phaseSpectrum,
                  std::span<double> real) {
  // Both lengths are powers of two, so each bin of F falls a whole fraction of the way between two of
  // the phase transform's.
  const std::size_t ratio = (spectrum.size() - 1) / (phaseSpectrum.size() - 1);
  const auto project = [](std::complex<double> bin, std::complex<double> g) {
    const double size = magnitudeOf(g);
    return size > 0 ? (bin.real() * g.real() + bin.imag() * g.imag()) / size : bin.real();
  };
  const double toFraction = 1 / static_cast<double>(ratio);  // exact: a power of two
  // Phase bin by phase bin, so that no point needs a division to find its place between two.
  for (std::size_t i = 0, k = 0; k < real.size(); ++i) {
    const std::complex<double> a = phaseSpectrum[i];
    real[k] = project(spectrum[k], a);
    ++k;
    if (k == real.size()) break;
    const std::complex<double> rise = phaseSpectrum[i + 1] - a;
    for (std::size_t s = 1; s < ratio; ++s, ++k) real[k] = project(spectrum[k], a + rise * (static_cast<double>(s) * toFraction));
  }
}

void magnitude(std::span<const std::complex<double>> spectrum, std::span<double> real) {
  for (std::size_t k = 0; k < real.size(); ++k) real[k] = magnitudeOf(spectrum[k]);
}

Axis axisFor(const Sampling& sampling, std::size_t length) {
  return {0, 1 / (static_cast<double>(length) * sampling.spacingCm()), length / 2 + 1};
}

Error process(std::span<const double> interferogram, const Options& options, Spectrum& spectrum) {
  if (const Error error = checkOptions(options); error != Error::None) return error;
  if (const Error error = checkInterferogram(interferogram); error != Error::None) return error;
  const std::size_t n = interferogram.size();
  if (options.zpdSearch == ZpdSearch::Given && options.zpdIndex >= n) return Error::BadOption;
  const std::size_t length = transformLength(n, options.zeroFill);
  if (length == 0) return Error::TooManyPoints;

  // The interferogram is read where it lies: the mean is taken off as the points are copied into the
  // transform, and the window and ramp are applied there.
  const double mean = options.removeDc ? meanOf(interferogram) : 0.0;
  if (!std::isfinite(mean)) return Error::NotFinite;
  const std::size_t zpd = findZpdAbout(interferogram, options.zpdSearch, options.zpdIndex, mean);
  const bool mertz = options.phase == Phase::Mertz;
  // The Mertz phase needs points on both sides of the ZPD.
  if (mertz && shortSide(n, zpd) == 0) return Error::TooFewPoints;

  const std::shared_ptr<const RealFft> plan = realFftFor(length);
  const RealFft& fft = *plan;
  const std::size_t bins = length / 2 + 1;
  // The transform's points and then its bins; every value is written before it is read.
  const WorkingMemory working(length + 2 * bins);
  const std::span<double> transform = working.doubles().first(length);
  const std::span<std::complex<double>> transformed = working.complexes(length, bins);
  std::vector<std::complex<double>> phaseBins;
  std::size_t phaseHalf = 0;
  if (mertz) {
    // From the points before apodization: the phase is the interferogram's, not the window's. It
    // varies slowly, so a transform of the stretch's own length serves, interpolated.
    phaseHalf = phaseHalfLength(options, n, zpd);
    std::vector<double> around(2 * phaseHalf + 1);
    for (std::size_t i = 0; i < around.size(); ++i) around[i] = interferogram[zpd - phaseHalf + i] - mean;
    const std::size_t phaseLength = phaseTransformLength(phaseHalf, length);
    std::span<double> stretch(transform.data(), phaseLength);
    phaseStretch(around, phaseHalf, phaseHalf, stretch);
    phaseBins.resize(phaseLength / 2 + 1);
    realFftFor(phaseLength)->forward(stretch, phaseBins);
  }
  // Rotated as rotateIntoTransform does: the ZPD and what follows it first, the points before it at
  // the end, zeros between.
  const std::size_t after = n - zpd;
  for (std::size_t i = 0; i < after; ++i) transform[i] = interferogram[zpd + i] - mean;
  std::fill(transform.begin() + static_cast<std::ptrdiff_t>(after), transform.end() - static_cast<std::ptrdiff_t>(zpd), 0.0);
  for (std::size_t i = 0; i < zpd; ++i) transform[length - zpd + i] = interferogram[i] - mean;
  const TwoSides sides{transform.data(), after, transform.data() + length, zpd};
  apodizeSides(sides, options.apodization, apodizationSides(n, zpd, options.phase));
  if (mertz && needsMertzRamp(n, zpd)) rampSides(sides, shortSide(n, zpd));
  fft.forwardOverwriting(transform, transformed);

  Spectrum result;
  result.values.resize(bins);
  if (mertz) {
    correctPhase(transformed, phaseBins, result.values);
  } else {
    magnitude(transformed, result.values);
  }
  if (!std::all_of(result.values.begin(), result.values.end(), [](double v) { return std::isfinite(v); }))
    return Error::NotFinite;  // finite points so large that their transform overflows
  result.axis = axisFor(options.sampling, length);
  result.zpdIndex = zpd;
  result.transformPoints = length;
  result.phasePoints = mertz ? 2 * phaseHalf + 1 : 0;
  result.mean = mean;
  spectrum = std::move(result);
  return Error::None;
}

bool sameAxis(const Axis& a, const Axis& b) {
  if (a.points != b.points) return false;
  const double scale = std::max(std::abs(a.step), std::abs(b.step));
  return std::abs(a.step - b.step) <= 1e-9 * scale && std::abs(a.first - b.first) <= 1e-9 * scale;
}

Error ratio(std::span<const double> sample, const Axis& sampleAxis, std::span<const double> background,
            const Axis& backgroundAxis, Ratio kind, std::span<double> result) {
  if (!sameAxis(sampleAxis, backgroundAxis)) return Error::AxisMismatch;
  const std::size_t n = sampleAxis.points;
  if (sample.size() < n || background.size() < n || result.size() < n) return Error::BadOption;
  for (std::size_t k = 0; k < n; ++k) {
    const double s = sample[k];
    const double b = background[k];
    double value = kMissing;
    if (std::isfinite(s) && std::isfinite(b) && b > 0) {
      const double transmittance = s / b;
      if (kind == Ratio::Transmittance) {
        value = transmittance;
      } else if (transmittance > 0 && std::isfinite(transmittance)) {
        value = -std::log10(transmittance);
      }
    }
    result[k] = value;
  }
  return Error::None;
}

Vertex parabolaVertex(double left, double middle, double right) {
  const double curvature = left - 2 * middle + right;
  if (curvature == 0 || !std::isfinite(curvature)) return {0, middle};
  const double offset = 0.5 * (left - right) / curvature;
  return {offset, middle - 0.25 * (left - right) * offset};
}

std::vector<Band> findBands(std::span<const double> values, const Axis& axis, double low, double high,
                            double minHeight, double minProminence) {
  std::vector<Band> bands;
  const std::size_t n = std::min(values.size(), axis.points);
  if (n < 3 || !(axis.step > 0)) return bands;
  // The points inside [low, high]; a summit's base is searched within them only.
  const double firstK = std::ceil((low - axis.first) / axis.step);
  const double lastK = std::floor((high - axis.first) / axis.step);
  if (!(firstK <= lastK) || lastK < 0 || firstK > static_cast<double>(n - 1)) return bands;
  const std::size_t begin = firstK < 0 ? 0 : static_cast<std::size_t>(firstK);
  const std::size_t end = lastK > static_cast<double>(n - 1) ? n : static_cast<std::size_t>(lastK) + 1;

  for (std::size_t k = end - 1; k-- > begin + 1;) {
    const double v = values[k], left = values[k - 1], right = values[k + 1];
    if (!(v >= minHeight) || !(v > left) || !(v >= right)) continue;  // NaN fails every comparison
    // The lowest point each way before a higher one, a missing one or the range's end.
    double leftBase = v, rightBase = v;
    for (std::size_t i = k; i-- > begin;) {
      if (!std::isfinite(values[i]) || values[i] > v) break;
      leftBase = std::min(leftBase, values[i]);
    }
    for (std::size_t i = k + 1; i < end; ++i) {
      if (!std::isfinite(values[i]) || values[i] > v) break;
      rightBase = std::min(rightBase, values[i]);
    }
    if (v - std::max(leftBase, rightBase) < minProminence) continue;
    const Vertex vertex = parabolaVertex(left, v, right);
    bands.push_back({axis.at(k) + vertex.offset * axis.step, vertex.value});
  }
  return bands;
}

}  // namespace dorvane::spectra
