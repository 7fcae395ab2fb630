// The C interface of the spectra library: arguments checked, results into the caller's buffers,
// nothing thrown across it.
#include "dorvane_spectra.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <new>

#include "spectra/calibration.h"
#include "spectra/qualification.h"
#include "spectra/spectra.h"

namespace {

using namespace dorvane::spectra;

// The options record, checked field by field; false for a value outside the documented ones.
bool fromC(const dorvane_spectrum_options& c, Options& options) {
  if (c.apodization < DORVANE_APODIZATION_BOXCAR || c.apodization > DORVANE_APODIZATION_NORTON_BEER_STRONG) return false;
  if (c.zpd_search < DORVANE_ZPD_LARGEST_MAGNITUDE || c.zpd_search > DORVANE_ZPD_GIVEN) return false;
  if (c.phase != DORVANE_PHASE_MERTZ && c.phase != DORVANE_PHASE_POWER) return false;
  if (c.zpd_search == DORVANE_ZPD_GIVEN && c.zpd_index < 0) return false;
  options.sampling = {c.laser_wavenumber, c.undersampling};
  options.removeDc = c.remove_dc != 0;
  options.zpdSearch = static_cast<ZpdSearch>(c.zpd_search);
  options.zpdIndex = c.zpd_search == DORVANE_ZPD_GIVEN ? static_cast<std::size_t>(c.zpd_index) : 0;
  options.apodization = static_cast<Apodization>(c.apodization);
  options.zeroFill = c.zero_fill;
  options.phase = c.phase == DORVANE_PHASE_MERTZ ? Phase::Mertz : Phase::Power;
  options.phaseResolution = c.phase_resolution;
  return checkOptions(options) == Error::None;
}

bool fromC(const dorvane_spectrum_axis& c, Axis& axis) {
  if (c.points < 0) return false;
  axis = {c.first_wavenumber, c.wavenumber_step, static_cast<std::size_t>(c.points)};
  return true;
}

dorvane_spectrum_axis toC(const Axis& axis) {
  return {axis.first, axis.step, static_cast<int32_t>(axis.points)};
}

// The checks every interferogram call makes; DORVANE_SPECTRA_OK when processing may go on.
int32_t prepare(const double* interferogram, int32_t points, const dorvane_spectrum_options* c, Options& options) {
  if (interferogram == nullptr || c == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (!fromC(*c, options)) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  if (points < 2) return DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS;
  if (transformLength(static_cast<std::size_t>(points), options.zeroFill) == 0) return DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS;
  if (options.zpdSearch == ZpdSearch::Given && options.zpdIndex >= static_cast<std::size_t>(points))
    return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  return DORVANE_SPECTRA_OK;
}

// The values of a spectrum and its axis, checked: DORVANE_SPECTRA_OK when the measure may go on.
int32_t spectrumFromC(const double* values, const dorvane_spectrum_axis* c, Axis& axis) {
  if (values == nullptr || c == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (!fromC(*c, axis)) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  return DORVANE_SPECTRA_OK;
}

template <std::size_t n>
void copyInto(const std::array<double, n>& from, double (&to)[n]) {
  std::copy(from.begin(), from.end(), to);
}

}  // namespace

extern "C" {

DORVANE_SPECTRA_API void DORVANE_SPECTRA_CALL dorvane_spectrum_default_options(dorvane_spectrum_options* options) {
  if (options == nullptr) return;
  const Options defaults;
  *options = {};
  options->laser_wavenumber = defaults.sampling.laserWavenumber;
  options->undersampling = defaults.sampling.undersampling;
  options->remove_dc = 1;
  options->zpd_search = DORVANE_ZPD_LARGEST_MAGNITUDE;
  options->zpd_index = 0;
  options->apodization = DORVANE_APODIZATION_BLACKMAN_HARRIS_3;
  options->zero_fill = defaults.zeroFill;
  options->phase = DORVANE_PHASE_MERTZ;
  options->phase_resolution = defaults.phaseResolution;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_axis_for(int32_t points,
    const dorvane_spectrum_options* c, dorvane_spectrum_axis* axis) {
  if (c == nullptr || axis == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Options options;
  if (!fromC(*c, options)) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  if (points < 2) return DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS;
  const std::size_t length = transformLength(static_cast<std::size_t>(points), options.zeroFill);
  if (length == 0) return DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS;
  *axis = toC(axisFor(options.sampling, length));
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_find_zpd(const double* interferogram,
    int32_t points, const dorvane_spectrum_options* c, int32_t* zpd_index) {
  if (zpd_index == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Options options;
  if (const int32_t result = prepare(interferogram, points, c, options); result != DORVANE_SPECTRA_OK) return result;
  const std::span<const double> in(interferogram, static_cast<std::size_t>(points));
  if (const Error error = checkInterferogram(in); error != Error::None) return static_cast<int32_t>(error);
  try {
    std::vector<double> copy(in.begin(), in.end());
    if (options.removeDc) removeDc(copy);
    *zpd_index = static_cast<int32_t>(findZpd(copy, options.zpdSearch, options.zpdIndex));
    return DORVANE_SPECTRA_OK;
  } catch (const std::bad_alloc&) {
    return DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS;
  }
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_process(const double* interferogram,
    int32_t points, const dorvane_spectrum_options* c, double* spectrum, int32_t capacity,
    dorvane_spectrum_info* info) {
  if (spectrum == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Options options;
  if (const int32_t result = prepare(interferogram, points, c, options); result != DORVANE_SPECTRA_OK) return result;
  const std::size_t length = transformLength(static_cast<std::size_t>(points), options.zeroFill);
  if (capacity < 0 || static_cast<std::size_t>(capacity) < length / 2 + 1) return DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL;
  try {
    Spectrum result;
    const Error error = process(std::span<const double>(interferogram, static_cast<std::size_t>(points)), options, result);
    if (error != Error::None) return static_cast<int32_t>(error);
    std::copy(result.values.begin(), result.values.end(), spectrum);
    if (info != nullptr) {
      info->axis = toC(result.axis);
      info->zpd_index = static_cast<int32_t>(result.zpdIndex);
      info->transform_points = static_cast<int32_t>(result.transformPoints);
      info->phase_points = static_cast<int32_t>(result.phasePoints);
      info->mean = result.mean;
    }
    return DORVANE_SPECTRA_OK;
  } catch (const std::bad_alloc&) {
    return DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS;
  }
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_ratio(const double* sample,
    const dorvane_spectrum_axis* sample_axis, const double* background,
    const dorvane_spectrum_axis* background_axis, int32_t kind, double* result, int32_t capacity) {
  if (sample == nullptr || sample_axis == nullptr || background == nullptr || background_axis == nullptr ||
      result == nullptr)
    return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (kind != DORVANE_RATIO_TRANSMITTANCE && kind != DORVANE_RATIO_ABSORBANCE) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  Axis sampleAxis, backgroundAxis;
  if (!fromC(*sample_axis, sampleAxis) || !fromC(*background_axis, backgroundAxis)) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  if (!sameAxis(sampleAxis, backgroundAxis)) return DORVANE_SPECTRA_ERROR_AXIS_MISMATCH;
  if (capacity < sample_axis->points) return DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL;
  const std::size_t n = sampleAxis.points;
  const Error error = ratio({sample, n}, sampleAxis, {background, n}, backgroundAxis,
                            kind == DORVANE_RATIO_TRANSMITTANCE ? Ratio::Transmittance : Ratio::Absorbance, {result, n});
  return static_cast<int32_t>(error);
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_find_bands(const double* values,
    const dorvane_spectrum_axis* c, double low, double high, double min_height, double min_prominence,
    double* positions, double* heights, int32_t capacity, int32_t* count) {
  if (values == nullptr || c == nullptr || count == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (capacity < 0) return DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL;
  if (capacity > 0 && (positions == nullptr || heights == nullptr)) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Axis axis;
  if (!fromC(*c, axis)) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  try {
    const std::vector<Band> bands = findBands({values, axis.points}, axis, low, high, min_height, min_prominence);
    const std::size_t written = std::min(bands.size(), static_cast<std::size_t>(capacity));
    for (std::size_t i = 0; i < written; ++i) {
      positions[i] = bands[i].position;
      heights[i] = bands[i].height;
    }
    *count = static_cast<int32_t>(bands.size());
    return DORVANE_SPECTRA_OK;
  } catch (const std::bad_alloc&) {
    return DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS;
  }
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectra_polystyrene_bands(double* positions,
    int32_t capacity, int32_t* count) {
  if (count == nullptr || (capacity > 0 && positions == nullptr)) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (capacity < 0) return DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL;
  const std::size_t written = std::min(std::size(kPolystyreneBands), static_cast<std::size_t>(capacity));
  std::copy_n(kPolystyreneBands, written, positions);
  *count = static_cast<int32_t>(std::size(kPolystyreneBands));
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API void DORVANE_SPECTRA_CALL dorvane_qualify_default_limits(dorvane_qualify_limits* limits) {
  if (limits == nullptr) return;
  const QualifyLimits& d = kDefaultQualifyLimits;
  *limits = {};
  copyInto(d.bandPositions, limits->band_positions);
  copyInto(d.bandTolerances, limits->band_tolerances);
  limits->band_window = d.bandWindow;
  limits->band_least_depth = d.bandLeastDepth;
  copyInto(d.resolutionMaxima, limits->resolution_maxima);
  copyInto(d.resolutionMinima, limits->resolution_minima);
  copyInto(d.resolutionWindows, limits->resolution_windows);
  copyInto(d.resolutionLeast, limits->resolution_least);
  limits->resolution_coarsest = d.resolutionCoarsest;
  copyInto(d.noiseLow, limits->noise_low);
  copyInto(d.noiseHigh, limits->noise_high);
  limits->noise_rms_most = d.noiseRmsMost;
  limits->noise_peak_to_peak_most = d.noisePeakToPeakMost;
  limits->departure_low = d.departureLow;
  limits->departure_high = d.departureHigh;
  limits->departure_most = d.departureMost;
  limits->departure_stretch = d.departureStretch;
  copyInto(d.energyWavenumbers, limits->energy_wavenumbers);
  limits->energy_half_width = d.energyHalfWidth;
  limits->energy_least_share = d.energyLeastShare;
  limits->repeat_samples = d.repeatSamples;
  limits->repeat_position_most = d.repeatPositionMost;
  copyInto(d.repeatBands, limits->repeat_bands);
  limits->repeat_percent_most = d.repeatPercentMost;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_band_position(const double* transmittance,
    const dorvane_spectrum_axis* c, double listed, double window, double least_depth, double* position,
    double* percent) {
  if (position == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Axis axis;
  if (const int32_t result = spectrumFromC(transmittance, c, axis); result != DORVANE_SPECTRA_OK) return result;
  BandMinimum band{};
  const Error error = bandPosition({transmittance, axis.points}, axis, listed, window, least_depth, band);
  if (error != Error::None) return static_cast<int32_t>(error);
  *position = band.position;
  if (percent != nullptr) *percent = band.percent;
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_resolution(const double* transmittance,
    const dorvane_spectrum_axis* c, double maximum_near, double minimum_near, double window, double* difference,
    double* maximum_at, double* minimum_at) {
  if (difference == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Axis axis;
  if (const int32_t result = spectrumFromC(transmittance, c, axis); result != DORVANE_SPECTRA_OK) return result;
  ResolutionDifference found{};
  const Error error =
      resolutionDifference({transmittance, axis.points}, axis, maximum_near, minimum_near, window, found);
  if (error != Error::None) return static_cast<int32_t>(error);
  *difference = found.difference;
  if (maximum_at != nullptr) *maximum_at = found.maximumAt;
  if (minimum_at != nullptr) *minimum_at = found.minimumAt;
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_line_noise(const double* transmittance,
    const dorvane_spectrum_axis* c, double low, double high, int32_t stride, dorvane_line_noise* noise) {
  if (noise == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Axis axis;
  if (const int32_t result = spectrumFromC(transmittance, c, axis); result != DORVANE_SPECTRA_OK) return result;
  if (stride < 1) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  LineNoise found{};
  const Error error = lineNoise({transmittance, axis.points}, axis, low, high, static_cast<std::size_t>(stride), found);
  if (error != Error::None) return static_cast<int32_t>(error);
  *noise = {found.mean, found.rms, found.peakToPeak, found.differenceRms, static_cast<int32_t>(found.points)};
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_line_departure(const double* transmittance,
    const dorvane_spectrum_axis* c, double low, double high, double stretch, double* departure, double* wavenumber) {
  if (departure == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Axis axis;
  if (const int32_t result = spectrumFromC(transmittance, c, axis); result != DORVANE_SPECTRA_OK) return result;
  LineDeparture found{};
  const Error error = lineDeparture({transmittance, axis.points}, axis, low, high, stretch, found);
  if (error != Error::None) return static_cast<int32_t>(error);
  *departure = found.departure;
  if (wavenumber != nullptr) *wavenumber = found.wavenumber;
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_level(const double* single_beam,
    const dorvane_spectrum_axis* c, double wavenumber, double half_width, double* level) {
  if (level == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Axis axis;
  if (const int32_t result = spectrumFromC(single_beam, c, axis); result != DORVANE_SPECTRA_OK) return result;
  double found = 0;
  const Error error = levelAt({single_beam, axis.points}, axis, wavenumber, half_width, found);
  if (error != Error::None) return static_cast<int32_t>(error);
  *level = found;
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_burst(const double* interferogram, int32_t points,
    double* amplitude) {
  if (interferogram == nullptr || amplitude == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (points < 2) return DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS;
  double found = 0;
  const Error error = burstAmplitude({interferogram, static_cast<std::size_t>(points)}, found);
  if (error != Error::None) return static_cast<int32_t>(error);
  *amplitude = found;
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_spread(const double* values, int32_t count,
    double* mean, double* standard_deviation) {
  if (values == nullptr || mean == nullptr || standard_deviation == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  if (count < 2) return DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS;
  Spread found{};
  const Error error = spreadOf({values, static_cast<std::size_t>(count)}, found);
  if (error != Error::None) return static_cast<int32_t>(error);
  *mean = found.mean;
  *standard_deviation = found.standardDeviation;
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_nominal_resolution(int32_t points,
    int32_t zpd_index, const dorvane_spectrum_options* c, double* resolution) {
  if (c == nullptr || resolution == nullptr) return DORVANE_SPECTRA_ERROR_NULL_POINTER;
  Options options;
  if (!fromC(*c, options)) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  if (points < 2) return DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS;
  if (zpd_index < 0 || zpd_index >= points) return DORVANE_SPECTRA_ERROR_BAD_OPTION;
  *resolution = nominalResolution(static_cast<std::size_t>(points), static_cast<std::size_t>(zpd_index), options.sampling);
  return DORVANE_SPECTRA_OK;
}

DORVANE_SPECTRA_API const char* DORVANE_SPECTRA_CALL dorvane_spectra_error_text(int32_t code) {
  switch (code) {
    case DORVANE_SPECTRA_OK: return "no error";
    case DORVANE_SPECTRA_ERROR_NULL_POINTER: return "a required pointer was NULL";
    case DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS:
      return "too few points: an interferogram needs at least 2, and points on both sides of its ZPD for the Mertz phase";
    case DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS: return "too many points: the zero-filled transform would pass 16 Mi points";
    case DORVANE_SPECTRA_ERROR_BAD_OPTION: return "an option or a parameter is outside its allowed values";
    case DORVANE_SPECTRA_ERROR_NOT_FINITE: return "a point holds a value that is not a finite number";
    case DORVANE_SPECTRA_ERROR_NO_SIGNAL: return "every point of the interferogram is the same: there is no signal to transform";
    case DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL: return "the result buffer is too small";
    case DORVANE_SPECTRA_ERROR_AXIS_MISMATCH: return "the two spectra lie on different wavenumber axes";
    case DORVANE_SPECTRA_ERROR_NO_BAND:
      return "no band where one was looked for: no minimum deep enough inside the window (is the film in the beam?)";
    case DORVANE_SPECTRA_ERROR_OUT_OF_RANGE:
      return "a wavenumber range that is reversed, off the spectrum's axis, or holds too few points";
    default: return "unknown result code";
  }
}

}  // extern "C"
