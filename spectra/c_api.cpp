// The C interface of the spectra library: arguments checked, results into the caller's buffers,
// nothing thrown across it.
#include "dorvane_spectra.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "spectra/calibration.h"
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

DORVANE_SPECTRA_API const char* DORVANE_SPECTRA_CALL dorvane_spectra_error_text(int32_t code) {
  switch (code) {
    case DORVANE_SPECTRA_OK: return "no error";
    case DORVANE_SPECTRA_ERROR_NULL_POINTER: return "a required pointer was NULL";
    case DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS:
      return "too few points: an interferogram needs at least 2, and points on both sides of its ZPD for the Mertz phase";
    case DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS: return "too many points: the zero-filled transform would pass 16 Mi points";
    case DORVANE_SPECTRA_ERROR_BAD_OPTION: return "an option is outside its allowed values";
    case DORVANE_SPECTRA_ERROR_NOT_FINITE: return "the interferogram holds a value that is not a finite number";
    case DORVANE_SPECTRA_ERROR_NO_SIGNAL: return "every point of the interferogram is the same: there is no signal to transform";
    case DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL: return "the result buffer is too small";
    case DORVANE_SPECTRA_ERROR_AXIS_MISMATCH: return "the two spectra lie on different wavenumber axes";
    default: return "unknown result code";
  }
}

}  // extern "C"
