/**
 * @file
 * dorvane_spectra.h: interferograms into spectra (libdorvane_spectra.so, dorvane_spectra.dll).
 *
 * A library of its own beside the driver, which knows nothing of it: it takes an interferogram as
 * the host has it (volts at equal steps of optical path difference) and returns the single-beam
 * spectrum, then transmittance or absorbance against a background. No I/O, no state, no threads:
 * every function may be called from any thread. Every function uses the default C calling
 * convention (cdecl: from Python's ctypes, load the library with CDLL) and returns 0 or one of the
 * DORVANE_SPECTRA_ERROR_ codes below; dorvane_spectra_error_text names each. Results go into the
 * caller's buffers, whose sizes are always passed and checked; nothing is written on failure.
 *
 * Sampling. The bench samples at the zero crossings of its reference laser: points lie
 * dx = r / (2 sigmaL) cm apart, sigmaL being the laser's wavenumber (15798.0 cm-1 by default) and r
 * the undersampling ratio (1, 2, 4 or 8). The host takes r from the `lasersamp` setting: that
 * reading of the setting is an assumption until a real bench confirms it, which is why every file
 * the host writes carries sigmaL and r, so that the axis can be redone.
 *
 * The steps, in order: the mean is removed; the zero path difference (ZPD) is found; the points
 * about it are apodized, each side scaled to its own length; the interferogram is zero-filled to
 * points x zero_fill rounded up to a power of two (N) and rotated so that the ZPD comes first; the
 * FFT; the phase is corrected. Mertz: the phase comes from a short double-sided stretch about the
 * ZPD (its length set by phase_resolution), triangular-apodized, transformed at a power of two of at
 * least twice its length and interpolated linearly onto the spectrum's points; when one side of the interferogram
 * is shorter than the other, that side and as much of the long side are weighted by a ramp from 0
 * to 2 (the long side beyond it by 2), so that the double-sided part is not counted twice, and the
 * apodization is taken at the long side's length on both sides. Power: the magnitude of the
 * transform. The spectrum has N/2 + 1 points at wavenumbers k / (N dx), k = 0 .. N/2, from 0 to
 * the folding limit sigmaL / r. Its values are in arbitrary units (the transform's plain sums).
 */
#ifndef DORVANE_SPECTRA_H
#define DORVANE_SPECTRA_H

#include <stdint.h>

/** @def DORVANE_SPECTRA_API
 * Marks an export: dllexport while the DLL is built (DORVANE_SPECTRA_BUILDING_LIBRARY), dllimport
 * in its hosts; on Linux, default visibility in a library that hides everything else. */
/** @def DORVANE_SPECTRA_CALL
 * Every export's calling convention: cdecl on Windows, the platform's C convention elsewhere. */
#if defined(_WIN32)
#  if defined(DORVANE_SPECTRA_BUILDING_LIBRARY)
#    define DORVANE_SPECTRA_API __declspec(dllexport)
#  else
#    define DORVANE_SPECTRA_API __declspec(dllimport)
#  endif
#  define DORVANE_SPECTRA_CALL __cdecl
#else
#  define DORVANE_SPECTRA_API __attribute__((visibility("default")))
#  define DORVANE_SPECTRA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @name Results
 * @{
 */
#define DORVANE_SPECTRA_OK 0 /**< success */
#define DORVANE_SPECTRA_ERROR_NULL_POINTER (-1)    /**< a pointer that must not be NULL was NULL */
#define DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS (-2)  /**< fewer than 2 points, or none on one side for Mertz */
#define DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS (-3) /**< the zero-filled transform would pass 2^24 points */
#define DORVANE_SPECTRA_ERROR_BAD_OPTION (-4)      /**< an option or parameter outside its documented values (a NaN, a window <= 0) */
#define DORVANE_SPECTRA_ERROR_NOT_FINITE (-5)      /**< a NaN or an infinity among points that must all be finite */
#define DORVANE_SPECTRA_ERROR_NO_SIGNAL (-6)       /**< every point equal: nothing to transform */
#define DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL (-7)/**< the caller's buffer cannot hold the result */
#define DORVANE_SPECTRA_ERROR_AXIS_MISMATCH (-8)   /**< two spectra on different wavenumber axes */
#define DORVANE_SPECTRA_ERROR_NO_BAND (-9)         /**< no band where one was looked for */
#define DORVANE_SPECTRA_ERROR_OUT_OF_RANGE (-10)   /**< a wavenumber range not on the axis, reversed, or with too few points */
/** @} */

/**
 * @name Apodization functions, x being the distance from the ZPD over that side's length (0 to 1)
 * @{
 */
#define DORVANE_APODIZATION_BOXCAR 0              /**< 1: no weighting */
#define DORVANE_APODIZATION_TRIANGULAR 1          /**< 1 - x */
#define DORVANE_APODIZATION_HAPP_GENZEL 2         /**< 0.54 + 0.46 cos(pi x) */
#define DORVANE_APODIZATION_BLACKMAN_HARRIS_3 3   /**< 0.42323, 0.49755, 0.07922: the default */
#define DORVANE_APODIZATION_BLACKMAN_HARRIS_4 4   /**< 0.35875, 0.48829, 0.14128, 0.01168 */
#define DORVANE_APODIZATION_NORTON_BEER_WEAK 5    /**< powers of q = 1 - x^2 */
#define DORVANE_APODIZATION_NORTON_BEER_MEDIUM 6  /**< powers of q = 1 - x^2 */
#define DORVANE_APODIZATION_NORTON_BEER_STRONG 7  /**< powers of q = 1 - x^2 */
/** @} */

/**
 * @name How the ZPD is found
 * @{
 */
#define DORVANE_ZPD_LARGEST_MAGNITUDE 0 /**< the point of largest |value| after the mean is removed: the default */
#define DORVANE_ZPD_LARGEST 1           /**< the point of largest value */
#define DORVANE_ZPD_SMALLEST 2          /**< the point of smallest value */
#define DORVANE_ZPD_GIVEN 3             /**< zpd_index as given */
/** @} */

/**
 * @name Phase correction
 * @{
 */
#define DORVANE_PHASE_MERTZ 0 /**< the default */
#define DORVANE_PHASE_POWER 1 /**< the magnitude spectrum */
/** @} */

/**
 * @name Ratios of a sample spectrum to a background
 * @{
 */
#define DORVANE_RATIO_TRANSMITTANCE 0 /**< S / B */
#define DORVANE_RATIO_ABSORBANCE 1    /**< -log10(S / B) */
/** @} */

/** The options of every processing step: each field's comment gives its values and its default. */
typedef struct dorvane_spectrum_options {
  double laser_wavenumber;  /**< sigmaL, cm-1; 15798.0 */
  int32_t undersampling;    /**< r: 1, 2, 4 or 8; 2 */
  int32_t remove_dc;        /**< nonzero: subtract the mean first; 1 */
  int32_t zpd_search;       /**< DORVANE_ZPD_...; largest magnitude */
  int32_t zpd_index;        /**< with DORVANE_ZPD_GIVEN: 0 .. points - 1 */
  int32_t apodization;      /**< DORVANE_APODIZATION_...; Blackman-Harris 3-term */
  int32_t zero_fill;        /**< 1, 2, 4 or 8; 2 */
  int32_t phase;            /**< DORVANE_PHASE_...; Mertz */
  double phase_resolution;  /**< cm-1, Mertz only; 32; above 0 */
} dorvane_spectrum_options;

/** The wavenumber axis of a spectrum: point k lies at first_wavenumber + k * wavenumber_step. */
typedef struct dorvane_spectrum_axis {
  double first_wavenumber; /**< cm-1; 0 for a spectrum from an interferogram */
  double wavenumber_step;  /**< cm-1: 1 / (N dx) */
  int32_t points;          /**< N/2 + 1 */
} dorvane_spectrum_axis;

/** What processing found and chose, for the record. */
typedef struct dorvane_spectrum_info {
  dorvane_spectrum_axis axis; /**< the spectrum's axis */
  int32_t zpd_index;       /**< the ZPD used, in the interferogram's points */
  int32_t transform_points;/**< N */
  int32_t phase_points;    /**< the double-sided stretch the phase came from (Mertz), else 0 */
  double mean;             /**< the mean removed (0 when remove_dc is 0) */
} dorvane_spectrum_info;

/** The defaults above (given in each field's comment of dorvane_spectrum_options). */
DORVANE_SPECTRA_API void DORVANE_SPECTRA_CALL dorvane_spectrum_default_options(dorvane_spectrum_options* options);

/** The axis that dorvane_spectrum_process gives an interferogram of `points` points, so that the
 * caller can size its buffer; checks the options and the point count as processing would. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_axis_for(int32_t points,
    const dorvane_spectrum_options* options, dorvane_spectrum_axis* axis);

/** The ZPD that processing would use (after removing the mean when the options say so). */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_find_zpd(const double* interferogram,
    int32_t points, const dorvane_spectrum_options* options, int32_t* zpd_index);

/** The single-beam spectrum of `interferogram` into spectrum[0 .. axis.points - 1]; `capacity` is
 * the number of doubles the buffer holds. `info` may be NULL. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_process(const double* interferogram,
    int32_t points, const dorvane_spectrum_options* options, double* spectrum, int32_t capacity,
    dorvane_spectrum_info* info);

/** Transmittance or absorbance of `sample` against `background`, both of `axis.points` points on
 * the same axis (their axes compared first: DORVANE_SPECTRA_ERROR_AXIS_MISMATCH otherwise), into
 * result[0 .. axis.points - 1]. A point where the ratio is undefined (a background of zero or
 * below, a non-finite value, or a ratio of zero or below for absorbance) is missing: NaN, to be
 * written as missing, never as a number. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_ratio(const double* sample,
    const dorvane_spectrum_axis* sample_axis, const double* background,
    const dorvane_spectrum_axis* background_axis, int32_t kind, double* result, int32_t capacity);

/** The bands of a spectrum (absorbance, say) between low and high cm-1: the local maxima that reach
 * min_height and stand at least min_prominence above the higher of the lowest points that separate
 * them from a higher point (or the range's end) on either side, as topographers measure a summit; so
 * noise on a band's flank is no band. Each position is refined by the parabola through the maximum
 * and its neighbours. Up to `capacity` bands go into positions (cm-1) and heights, from the highest
 * wavenumber down; *count is the number found, which may be larger than capacity. Missing points
 * (NaN) are never bands and end the search for a summit's base. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_find_bands(const double* values,
    const dorvane_spectrum_axis* axis, double low, double high, double min_height, double min_prominence,
    double* positions, double* heights, int32_t capacity, int32_t* count);

/** The band positions (cm-1) of polystyrene film, the standard that FTIR users check a wavenumber
 * axis against (those certified for NIST SRM 1921), from the highest down: up to `capacity` into
 * positions; *count is how many there are. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectra_polystyrene_bands(double* positions,
    int32_t capacity, int32_t* count);

/**
 * @name Performance qualification
 * The measures a lab checks its bench with (a polystyrene film's wavenumber accuracy and resolution,
 * a 100 % line, the energy, the repeatability), each from spectra and interferograms this library
 * makes. Transmittance goes in as the fraction dorvane_spectrum_ratio gives; every figure about it
 * comes out in %T (100 times the fraction), as the pharmacopoeias state their limits. Missing points
 * (NaN) are passed over; a range whose points are all missing is DORVANE_SPECTRA_ERROR_OUT_OF_RANGE.
 * A range keeps the axis's points from low to high inclusive, clipped to the axis; a wavenumber, a
 * window or a bound that is not finite, a window of 0 or less and an axis without a positive step are
 * DORVANE_SPECTRA_ERROR_BAD_OPTION. The defaults' sources are in docs/processing.md.
 * @{
 */
#define DORVANE_QUALIFY_BANDS 7          /**< the film's bands whose positions are checked */
#define DORVANE_QUALIFY_RESOLUTION_PAIRS 2 /**< the maximum-minimum pairs of the resolution check */
#define DORVANE_QUALIFY_NOISE_RANGES 2   /**< the ranges the 100 % line's noise is measured in */
#define DORVANE_QUALIFY_ENERGY_POINTS 3  /**< the wavenumbers the single beam's level is taken at */
#define DORVANE_QUALIFY_REPEAT_BANDS 2   /**< the bands whose %T the repeatability follows */

/** Every figure and limit of a qualification, with its default from dorvane_qualify_default_limits. */
typedef struct dorvane_qualify_limits {
  double band_positions[DORVANE_QUALIFY_BANDS];  /**< cm-1: 3060.0, 2849.5, 1942.9, 1601.2, 1583.0, 1154.5, 1028.3 */
  double band_tolerances[DORVANE_QUALIFY_BANDS]; /**< cm-1, either way: 1.5 for the first three, 1.0 for the others */
  double band_window;      /**< cm-1 either side of a listed position where its band is looked for: 5 */
  double band_least_depth; /**< %T: a band is a minimum at least this far below the highest %T on each side within the window: 2 */
  double resolution_maxima[DORVANE_QUALIFY_RESOLUTION_PAIRS]; /**< cm-1: 2870, 1589 */
  double resolution_minima[DORVANE_QUALIFY_RESOLUTION_PAIRS]; /**< cm-1: 2849.5, 1583 */
  double resolution_windows[DORVANE_QUALIFY_RESOLUTION_PAIRS];/**< cm-1 either side of each: 5, 2.5 */
  double resolution_least[DORVANE_QUALIFY_RESOLUTION_PAIRS];  /**< %T the difference must pass: 18, 12 */
  double resolution_coarsest; /**< cm-1: the coarsest nominal resolution that can separate 1583 from 1589: 2 */
  double noise_low[DORVANE_QUALIFY_NOISE_RANGES];  /**< cm-1: 2000, 1000 */
  double noise_high[DORVANE_QUALIFY_NOISE_RANGES]; /**< cm-1: 2200, 1100 */
  double noise_rms_most;          /**< %T: 0.75 */
  double noise_peak_to_peak_most; /**< %T: 5 */
  double departure_low;           /**< cm-1: where the 100 % line's largest departure is sought, from 700 */
  double departure_high;          /**< cm-1: to 4000 */
  double departure_most;          /**< %T: 2 */
  double departure_stretch;       /**< cm-1: the line is taken as the means of stretches this wide: 20 */
  double energy_wavenumbers[DORVANE_QUALIFY_ENERGY_POINTS]; /**< cm-1: 4400, 2500, 1000 */
  double energy_half_width;       /**< cm-1 either side of each over which the level is averaged: 10 */
  double energy_least_share;      /**< of the reference's figures: 0.7 */
  int32_t repeat_samples;         /**< sample measurements: 5 (at least 2) */
  double repeat_position_most;    /**< cm-1, the largest standard deviation of a band's position: 0.1 */
  double repeat_bands[DORVANE_QUALIFY_REPEAT_BANDS]; /**< cm-1: the bands whose %T is followed: 1601.2, 1028.3 */
  double repeat_percent_most;     /**< %T, the largest standard deviation of their %T: 0.5 */
} dorvane_qualify_limits;

/** The defaults given in each field's comment of dorvane_qualify_limits. */
DORVANE_SPECTRA_API void DORVANE_SPECTRA_CALL dorvane_qualify_default_limits(dorvane_qualify_limits* limits);

/** A band's position in a transmittance spectrum: the lowest point within listed ± window (cm-1),
 * refined to a fraction of a point by the vertex of the parabola through it and its two neighbours
 * (left as the point itself when a neighbour is missing). It must lie inside the window, not at its
 * edge, and at least least_depth %T (0 or more) below the highest point on each side of it within the
 * window: otherwise DORVANE_SPECTRA_ERROR_NO_BAND (no film in the beam, say). The window must hold
 * at least 3 points. *position in cm-1, *percent (may be NULL) the %T at the parabola's vertex. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_band_position(const double* transmittance,
    const dorvane_spectrum_axis* axis, double listed, double window, double least_depth, double* position,
    double* percent);

/** The resolution check: the highest %T within maximum_near ± window less the lowest %T within
 * minimum_near ± window, both as measured at their points, into *difference (%T); *maximum_at and
 * *minimum_at (cm-1) where each lies. Either may be NULL. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_resolution(const double* transmittance,
    const dorvane_spectrum_axis* axis, double maximum_near, double minimum_near, double window,
    double* difference, double* maximum_at, double* minimum_at);

/** The noise of a 100 % line (one background against another) between low and high cm-1, in %T. */
typedef struct dorvane_line_noise {
  double mean;           /**< %T */
  double rms;            /**< the standard deviation about the mean */
  double peak_to_peak;   /**< the highest less the lowest */
  double difference_rms; /**< the root mean square of the differences between points `stride` apart,
                              over the square root of 2: the noise without the line's slope */
  int32_t points;        /**< the points that were not missing */
} dorvane_line_noise;

/** The 100 % line's noise between low and high cm-1. `stride` (at least 1) is how many points apart
 * the differences are taken: the zero-filling factor, so that the points differenced are
 * independent. At least 3 points must be present, and one pair `stride` apart. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_line_noise(const double* transmittance,
    const dorvane_spectrum_axis* axis, double low, double high, int32_t stride, dorvane_line_noise* noise);

/** The 100 % line's largest departure from 100 %T between low and high cm-1: the line taken as the
 * means of its points over consecutive stretches `stretch` cm-1 wide (above 0; one point at least)
 * from low up, so that the line's bend counts and not its noise's peaks; *departure in %T with its
 * sign (below 100: negative), *wavenumber the middle of the stretch where it lies (may be NULL). */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_line_departure(const double* transmittance,
    const dorvane_spectrum_axis* axis, double low, double high, double stretch, double* departure,
    double* wavenumber);

/** A single-beam spectrum's level at `wavenumber`: the mean of its points within ± half_width cm-1
 * (above 0). */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_level(const double* single_beam,
    const dorvane_spectrum_axis* axis, double wavenumber, double half_width, double* level);

/** An interferogram's centre-burst amplitude: its highest point less its lowest, in its own units
 * (volts as the host has them). At least 2 points, all finite. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_burst(const double* interferogram,
    int32_t points, double* amplitude);

/** The mean and the sample standard deviation (n - 1) of `count` values, at least 2, all finite. */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_qualify_spread(const double* values, int32_t count,
    double* mean, double* standard_deviation);

/** The nominal resolution (cm-1) an interferogram of `points` points (at least 2) with its ZPD at
 * zpd_index (0 .. points - 1) gives: 1 / the longer side's path difference, before apodization, as
 * the options' sampling spaces the points: 1 / (max(zpd_index, points - 1 - zpd_index) dx). */
DORVANE_SPECTRA_API int32_t DORVANE_SPECTRA_CALL dorvane_spectrum_nominal_resolution(int32_t points,
    int32_t zpd_index, const dorvane_spectrum_options* options, double* resolution);
/** @} */

/** One short phrase for a result code. Never NULL. */
DORVANE_SPECTRA_API const char* DORVANE_SPECTRA_CALL dorvane_spectra_error_text(int32_t code);

#ifdef __cplusplus
}
#endif

#endif /* DORVANE_SPECTRA_H */
