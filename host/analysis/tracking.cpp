// Tracked bands: the option's text, the check against the axis, and the measures of one spectrum.
#include "host/analysis/tracking.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "host/files/file_text.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

std::string trackText(const TrackedBand& band) {
  return "--track " + band.name + "=" + numberText(band.low) + ":" + numberText(band.high);
}

TrackedBand parseTrack(const std::string& text) {
  const std::size_t equals = text.find('=');
  const std::string shown = printableAscii(text);
  if (equals == std::string::npos || equals == 0) {
    throw HostFailure("--track " + shown + ": give it as NAME=LO:HI in cm-1, e.g. CO2=2250:2450", kExitUsage);
  }
  TrackedBand band;
  band.name = text.substr(0, equals);
  // The name heads columns of a CSV table: nothing in it may end or quote a field or a row.
  if (band.name.find_first_of(",\"\r\n") != std::string::npos || trimmed(band.name) != band.name ||
      printableAscii(band.name) != band.name) {
    throw HostFailure("--track " + shown +
                          ": the NAME heads the series table's columns, so it is printable text without a comma, quote "
                          "or line break and without spaces at its ends",
                      kExitUsage);
  }
  const std::optional<WavenumberRange> range = rangeOf(std::string_view(text).substr(equals + 1));
  if (!range) {
    throw HostFailure("--track " + shown + ": give the range as LO:HI in cm-1, 0 <= LO < HI, e.g. CO2=2250:2450",
                      kExitUsage);
  }
  band.low = range->low;
  band.high = range->high;
  return band;
}

// The spectrum's value at `wavenumber`, on the straight line between its neighbouring points.
double valueAt(const SpectrumRecord& spectrum, double wavenumber) {
  const std::vector<double>& x = spectrum.wavenumbers;
  const auto above = std::lower_bound(x.begin(), x.end(), wavenumber);
  const auto i = static_cast<std::size_t>(std::distance(x.begin(), above));
  if (*above == wavenumber || i == 0) return spectrum.values[i];
  const double share = (wavenumber - x[i - 1]) / (x[i] - x[i - 1]);
  return spectrum.values[i - 1] + share * (spectrum.values[i] - spectrum.values[i - 1]);
}

}  // namespace

std::vector<TrackedBand> parseTracks(const std::vector<std::string>& texts) {
  std::vector<TrackedBand> bands;
  for (const std::string& text : texts) {
    TrackedBand band = parseTrack(text);
    if (std::any_of(bands.begin(), bands.end(), [&](const TrackedBand& other) { return other.name == band.name; })) {
      throw HostFailure("--track " + band.name + " is given twice: each band needs a name of its own", kExitUsage);
    }
    bands.push_back(std::move(band));
  }
  return bands;
}

WavenumberRange spectrumAxisFor(const ProcessingOptions& options, double laserWavenumber, std::int32_t undersampling) {
  WavenumberRange axis{0, options.laserWavenumber.value_or(laserWavenumber) / options.undersampling.value_or(undersampling)};
  if (options.range) axis = {std::max(axis.low, options.range->low), std::min(axis.high, options.range->high)};
  return axis;
}

void checkTracksWithin(const std::vector<TrackedBand>& bands, const WavenumberRange& axis) {
  for (const TrackedBand& band : bands) {
    if (band.low < axis.low || band.high > axis.high) {
      throw HostFailure(trackText(band) + " lies outside the spectra's axis, " + numberText(axis.low) + " to " +
                            numberText(axis.high) + " cm-1: give a range within it",
                        kExitUsage);
    }
  }
}

BandMeasure measureBand(const SpectrumRecord& spectrum, const TrackedBand& band) {
  const std::vector<double>& x = spectrum.wavenumbers;
  if (x.empty() || x.size() != spectrum.values.size() || band.low < x.front() || band.high > x.back()) {
    const std::string axis = x.empty() ? "empty" : numberText(x.front()) + " to " + numberText(x.back()) + " cm-1";
    throw HostFailure(trackText(band) + " lies outside the spectrum's axis (" + axis + "): give a range within it",
                      kExitUsage);
  }
  const auto first = std::upper_bound(x.begin(), x.end(), band.low);
  const auto last = std::lower_bound(x.begin(), x.end(), band.high);
  if (first >= last) {
    throw HostFailure(trackText(band) + " holds no point of the spectrum (its points lie " + numberText(x[1] - x[0]) +
                          " cm-1 apart): give a wider range",
                      kExitUsage);
  }
  const double lowValue = valueAt(spectrum, band.low), highValue = valueAt(spectrum, band.high);
  const double slope = (highValue - lowValue) / (band.high - band.low);
  const auto above = [&](std::size_t i) { return spectrum.values[i] - (lowValue + slope * (x[i] - band.low)); };

  BandMeasure measure;
  measure.area = 0;
  measure.height = -std::numeric_limits<double>::infinity();
  double previousX = band.low, previousY = 0;  // the line meets the spectrum at both ends
  std::size_t peak = 0;
  const auto begin = static_cast<std::size_t>(std::distance(x.begin(), first));
  const auto end = static_cast<std::size_t>(std::distance(x.begin(), last));
  for (std::size_t i = begin; i < end; ++i) {
    const double y = above(i);
    measure.area += 0.5 * (y + previousY) * (x[i] - previousX);
    previousX = x[i];
    previousY = y;
    if (y > measure.height) {
      measure.height = y;
      peak = i;
    }
  }
  measure.area += 0.5 * previousY * (band.high - previousX);
  if (!std::isfinite(measure.area) || !std::isfinite(lowValue) || !std::isfinite(highValue)) return {};
  measure.position = x[peak];
  // Between the points: the top of the parabola through the peak and its neighbours.
  if (peak > begin && peak + 1 < end) {
    const double left = above(peak - 1), right = above(peak + 1);
    const double curvature = left - 2 * measure.height + right;
    if (curvature < 0) {
      const double offset = 0.5 * (left - right) / curvature;
      measure.position += offset * (x[peak + 1] - x[peak]);
      measure.height -= 0.25 * (left - right) * offset;
    }
  }
  return measure;
}

std::vector<BandMeasure> measureBands(const SpectrumRecord& spectrum, const std::vector<TrackedBand>& bands) {
  std::vector<BandMeasure> measures;
  measures.reserve(bands.size());
  for (const TrackedBand& band : bands) measures.push_back(measureBand(spectrum, band));
  return measures;
}

namespace {

struct RiseFit {
  ExponentialRise rise;
  double squares = std::numeric_limits<double>::infinity();
};

// For a fixed tau the rise is linear in a and b: the normal equations of [1, -exp(-t/tau)].
RiseFit fitForTau(const std::vector<std::pair<double, double>>& points, double tau) {
  double n = 0, sumE = 0, sumEE = 0, sumY = 0, sumEY = 0;
  for (const auto& [t, y] : points) {
    const double e = -std::exp(-t / tau);
    n += 1;
    sumE += e;
    sumEE += e * e;
    sumY += y;
    sumEY += e * y;
  }
  const double determinant = n * sumEE - sumE * sumE;
  RiseFit fit;
  if (!(std::fabs(determinant) > 0)) return fit;
  fit.rise = {(sumY * sumEE - sumE * sumEY) / determinant, (n * sumEY - sumE * sumY) / determinant, tau};
  fit.squares = 0;
  for (const auto& [t, y] : points) {
    const double residual = y - (fit.rise.a - fit.rise.b * std::exp(-t / tau));
    fit.squares += residual * residual;
  }
  return fit;
}

}  // namespace

std::optional<ExponentialRise> fitExponentialRise(const std::vector<double>& seconds, const std::vector<double>& values) {
  constexpr std::size_t kLeastPoints = 4;
  constexpr int kGridSteps = 200;      // tau from a fiftieth of the span to twenty spans
  constexpr int kRefinements = 60;     // golden sections about the grid's best
  std::vector<std::pair<double, double>> points;
  for (std::size_t i = 0; i < std::min(seconds.size(), values.size()); ++i) {
    if (std::isfinite(seconds[i]) && std::isfinite(values[i])) points.emplace_back(seconds[i], values[i]);
  }
  if (points.size() < kLeastPoints) return std::nullopt;
  const auto [first, last] = std::minmax_element(points.begin(), points.end());
  const double span = last->first - first->first;
  if (!(span > 0)) return std::nullopt;
  const double lowest = std::log(span / 50), highest = std::log(span * 20);
  const double step = (highest - lowest) / kGridSteps;
  int best = 0;
  double bestSquares = std::numeric_limits<double>::infinity();
  for (int i = 0; i <= kGridSteps; ++i) {
    const double squares = fitForTau(points, std::exp(lowest + i * step)).squares;
    if (squares < bestSquares) {
      bestSquares = squares;
      best = i;
    }
  }
  if (!std::isfinite(bestSquares)) return std::nullopt;
  double low = lowest + std::max(best - 1, 0) * step, high = lowest + std::min(best + 1, kGridSteps) * step;
  const double golden = (std::sqrt(5.0) - 1) / 2;
  for (int i = 0; i < kRefinements; ++i) {
    const double left = high - golden * (high - low), right = low + golden * (high - low);
    if (fitForTau(points, std::exp(left)).squares < fitForTau(points, std::exp(right)).squares) {
      high = right;
    } else {
      low = left;
    }
  }
  return fitForTau(points, std::exp((low + high) / 2)).rise;
}

}  // namespace dorvane::host
