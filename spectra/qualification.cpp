// The qualification measures: band positions, resolution, the 100 % line, energy and spread.
#include "spectra/qualification.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace dorvane::spectra {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// A bound a rounding error away from a point still takes it in.
constexpr double kPointSlack = 1e-9;

bool finitePositive(double value) { return std::isfinite(value) && value > 0; }

// The finite point of the range that `better` prefers to every other (the first on ties), or kNone.
template <typename Better>
std::size_t pick(std::span<const double> values, PointRange range, Better better) {
  std::size_t chosen = kNone;
  for (std::size_t i = range.begin; i < range.end; ++i)
    if (std::isfinite(values[i]) && (chosen == kNone || better(values[i], values[chosen]))) chosen = i;
  return chosen;
}

bool lower(double a, double b) { return a < b; }
bool higher(double a, double b) { return a > b; }

// The highest finite value of [begin, end), or minus infinity when there is none.
double highestOf(std::span<const double> values, std::size_t begin, std::size_t end) {
  double highest = -std::numeric_limits<double>::infinity();
  for (std::size_t i = begin; i < end; ++i)
    if (std::isfinite(values[i])) highest = std::max(highest, values[i]);
  return highest;
}

}  // namespace

Error pointsWithin(const Axis& axis, std::size_t values, double low, double high, std::size_t least, PointRange& range) {
  if (!std::isfinite(axis.first) || !finitePositive(axis.step)) return Error::BadOption;
  if (!std::isfinite(low) || !std::isfinite(high)) return Error::BadOption;
  if (low > high) return Error::OutOfRange;
  const std::size_t n = std::min(values, axis.points);
  const double firstK = std::ceil((low - axis.first) / axis.step - kPointSlack);
  const double lastK = std::floor((high - axis.first) / axis.step + kPointSlack);
  if (n == 0 || lastK < 0 || firstK > static_cast<double>(n - 1) || firstK > lastK) return Error::OutOfRange;
  const std::size_t begin = firstK < 0 ? 0 : static_cast<std::size_t>(firstK);
  const std::size_t end = lastK > static_cast<double>(n - 1) ? n : static_cast<std::size_t>(lastK) + 1;
  if (end - begin < least) return Error::OutOfRange;
  range = {begin, end};
  return Error::None;
}

namespace {

// A band's core reaches half way up its depth; a parabola needs a few more points than it has
// coefficients to average the noise.
constexpr double kCoreShare = 0.5;
constexpr std::size_t kLeastCorePoints = 5;

// The band's core: the points about its lowest one, k, that lie in the lower half of its depth below
// `shoulder`. Returns the offset from k, in points, of the vertex of the parabola fitted to them by
// least squares, which places the band with the noise of all of them, where the parabola through
// three points moves with the noise of each (by tenths of a cm-1 at a bench's usual noise). None
// when the core has fewer than five points or the fit has no minimum inside it.
std::optional<double> coreVertexOffset(std::span<const double> values, const PointRange& range, std::size_t k,
                                       double shoulder) {
  const double ceiling = values[k] + kCoreShare * (shoulder - values[k]);
  std::size_t first = k, last = k;
  while (first > range.begin && std::isfinite(values[first - 1]) && values[first - 1] <= ceiling) --first;
  while (last + 1 < range.end && std::isfinite(values[last + 1]) && values[last + 1] <= ceiling) ++last;
  if (last - first + 1 < kLeastCorePoints) return std::nullopt;
  // Sums of x^n and x^n y, x counted in points from k: the normal equations of y = a + b x + c x^2.
  double s[5] = {}, t[3] = {};
  for (std::size_t i = first; i <= last; ++i) {
    const double x = static_cast<double>(i) - static_cast<double>(k), y = values[i];
    double power = 1;
    for (int n = 0; n < 5; ++n, power *= x) {
      s[n] += power;
      if (n < 3) t[n] += power * y;
    }
  }
  const auto determinant = [](double a, double b, double c, double d, double e, double f, double g, double h, double i) {
    return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  };
  const double whole = determinant(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
  if (whole == 0) return std::nullopt;
  const double b = determinant(s[0], t[0], s[2], s[1], t[1], s[3], s[2], t[2], s[4]) / whole;
  const double c = determinant(s[0], s[1], t[0], s[1], s[2], t[1], s[2], s[3], t[2]) / whole;
  if (!(c > 0)) return std::nullopt;
  const double offset = -b / (2 * c);
  const double lowest = static_cast<double>(first) - static_cast<double>(k);
  const double highest = static_cast<double>(last) - static_cast<double>(k);
  if (!(offset >= lowest && offset <= highest)) return std::nullopt;
  return offset;
}

}  // namespace

Error bandPosition(std::span<const double> transmittance, const Axis& axis, double listed, double window,
                   double leastDepth, BandMinimum& band) {
  if (!std::isfinite(listed) || !finitePositive(window) || !std::isfinite(leastDepth) || leastDepth < 0)
    return Error::BadOption;
  PointRange range;
  if (const Error error = pointsWithin(axis, transmittance.size(), listed - window, listed + window, 3, range);
      error != Error::None)
    return error;
  const std::size_t k = pick(transmittance, range, lower);
  if (k == kNone) return Error::OutOfRange;
  // A minimum on the window's edge is the flank of something outside it, not this band.
  if (k == range.begin || k + 1 == range.end) return Error::NoBand;
  const double v = transmittance[k];
  const double leftHighest = highestOf(transmittance, range.begin, k);
  const double rightHighest = highestOf(transmittance, k + 1, range.end);
  if (!(100 * (leftHighest - v) >= leastDepth) || !(100 * (rightHighest - v) >= leastDepth)) return Error::NoBand;
  // The %T at the band is the parabola's through its lowest point and neighbours: the core's parabola
  // places the band well but runs above a sharp minimum. parabolaVertex leaves the point as it is
  // when a neighbour is missing.
  const Vertex vertex = parabolaVertex(transmittance[k - 1], v, transmittance[k + 1]);
  const std::optional<double> core = coreVertexOffset(transmittance, range, k, std::min(leftHighest, rightHighest));
  band = {axis.at(k) + core.value_or(vertex.offset) * axis.step, 100 * vertex.value};
  return Error::None;
}

Error resolutionDifference(std::span<const double> transmittance, const Axis& axis, double maximumNear,
                           double minimumNear, double window, ResolutionDifference& result) {
  if (!std::isfinite(maximumNear) || !std::isfinite(minimumNear) || !finitePositive(window)) return Error::BadOption;
  PointRange nearMaximum, nearMinimum;
  if (const Error error = pointsWithin(axis, transmittance.size(), maximumNear - window, maximumNear + window, 1,
                                       nearMaximum);
      error != Error::None)
    return error;
  if (const Error error = pointsWithin(axis, transmittance.size(), minimumNear - window, minimumNear + window, 1,
                                       nearMinimum);
      error != Error::None)
    return error;
  const std::size_t highest = pick(transmittance, nearMaximum, higher);
  const std::size_t lowest = pick(transmittance, nearMinimum, lower);
  if (highest == kNone || lowest == kNone) return Error::OutOfRange;
  result = {100 * (transmittance[highest] - transmittance[lowest]), axis.at(highest), axis.at(lowest)};
  return Error::None;
}

Error lineNoise(std::span<const double> transmittance, const Axis& axis, double low, double high, std::size_t stride,
                LineNoise& noise) {
  if (stride < 1) return Error::BadOption;
  PointRange range;
  if (const Error error = pointsWithin(axis, transmittance.size(), low, high, 3, range); error != Error::None)
    return error;
  std::size_t present = 0;
  double sum = 0, lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (!std::isfinite(transmittance[i])) continue;
    ++present;
    sum += transmittance[i];
    lowest = std::min(lowest, transmittance[i]);
    highest = std::max(highest, transmittance[i]);
  }
  if (present < 3) return Error::OutOfRange;
  const double mean = sum / static_cast<double>(present);
  double squares = 0, differenceSquares = 0;
  std::size_t pairs = 0;
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (!std::isfinite(transmittance[i])) continue;
    squares += (transmittance[i] - mean) * (transmittance[i] - mean);
    if (stride < range.end - i && std::isfinite(transmittance[i + stride])) {
      const double d = transmittance[i + stride] - transmittance[i];
      differenceSquares += d * d;
      ++pairs;
    }
  }
  if (pairs == 0) return Error::OutOfRange;
  noise = {100 * mean, 100 * std::sqrt(squares / static_cast<double>(present)), 100 * (highest - lowest),
           100 * std::sqrt(differenceSquares / static_cast<double>(pairs) / 2), present};
  return Error::None;
}

Error lineDeparture(std::span<const double> transmittance, const Axis& axis, double low, double high, double stretch,
                    LineDeparture& result) {
  if (!finitePositive(stretch)) return Error::BadOption;
  PointRange range;
  if (const Error error = pointsWithin(axis, transmittance.size(), low, high, 1, range); error != Error::None)
    return error;
  const std::size_t width = std::max<std::size_t>(1, static_cast<std::size_t>(std::min(stretch / axis.step, 1e12)));
  bool found = false;
  for (std::size_t begin = range.begin; begin < range.end; begin += std::min(width, range.end - begin)) {
    const std::size_t end = begin + std::min(width, range.end - begin);
    double sum = 0;
    std::size_t present = 0;
    for (std::size_t i = begin; i < end; ++i) {
      if (!std::isfinite(transmittance[i])) continue;
      sum += transmittance[i];
      ++present;
    }
    if (present == 0) continue;
    const double departure = 100 * (sum / static_cast<double>(present) - 1);
    if (!found || std::abs(departure) > std::abs(result.departure)) {
      result = {departure, (axis.at(begin) + axis.at(end - 1)) / 2};
      found = true;
    }
  }
  return found ? Error::None : Error::OutOfRange;
}

Error levelAt(std::span<const double> singleBeam, const Axis& axis, double wavenumber, double halfWidth, double& level) {
  if (!std::isfinite(wavenumber) || !finitePositive(halfWidth)) return Error::BadOption;
  PointRange range;
  if (const Error error = pointsWithin(axis, singleBeam.size(), wavenumber - halfWidth, wavenumber + halfWidth, 1, range);
      error != Error::None)
    return error;
  double sum = 0;
  std::size_t present = 0;
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (!std::isfinite(singleBeam[i])) continue;
    sum += singleBeam[i];
    ++present;
  }
  if (present == 0) return Error::OutOfRange;
  level = sum / static_cast<double>(present);
  return Error::None;
}

Error burstAmplitude(std::span<const double> interferogram, double& amplitude) {
  if (interferogram.size() < 2) return Error::TooFewPoints;
  if (!std::all_of(interferogram.begin(), interferogram.end(), [](double v) { return std::isfinite(v); }))
    return Error::NotFinite;
  const auto [lowest, highest] = std::minmax_element(interferogram.begin(), interferogram.end());
  amplitude = *highest - *lowest;
  return Error::None;
}

Error spreadOf(std::span<const double> values, Spread& spread) {
  if (values.size() < 2) return Error::TooFewPoints;
  if (!std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); })) return Error::NotFinite;
  double sum = 0;
  for (double v : values) sum += v;
  const double mean = sum / static_cast<double>(values.size());
  double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  spread = {mean, std::sqrt(squares / static_cast<double>(values.size() - 1))};
  return Error::None;
}

double nominalResolution(std::size_t points, std::size_t zpd, const Sampling& sampling) {
  const std::size_t longer = std::max(zpd, points - 1 - zpd);
  return 1 / (static_cast<double>(longer) * sampling.spacingCm());
}

}  // namespace dorvane::spectra
