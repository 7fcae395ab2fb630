// Interferograms into spectra: each processing step a plain function over a span, with its
// parameters in one options record. The C interface (include/dorvane_spectra.h) and every host call
// these same functions.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace dorvane::spectra {

enum class Apodization {
  Boxcar,
  Triangular,
  HappGenzel,
  BlackmanHarris3,
  BlackmanHarris4,
  NortonBeerWeak,
  NortonBeerMedium,
  NortonBeerStrong,
};
enum class ZpdSearch { LargestMagnitude, Largest, Smallest, Given };
enum class Phase { Mertz, Power };
enum class Ratio { Transmittance, Absorbance };

// Failures, each one the C interface's result code.
enum class Error {
  None = 0,
  TooFewPoints = -2,
  TooManyPoints = -3,
  BadOption = -4,
  NotFinite = -5,
  NoSignal = -6,
  AxisMismatch = -8,
  NoBand = -9,
  OutOfRange = -10,
};

// The bench samples at the reference laser's zero crossings, every r-th one pair: dx = r / (2 sigmaL).
// The undersampling ratio r is our reading of the bench's `lasersamp` setting.
struct Sampling {
  double laserWavenumber = 15798.0;  // sigmaL, cm-1
  int undersampling = 2;             // r: 1, 2, 4 or 8

  double spacingCm() const { return undersampling / (2 * laserWavenumber); }
  double foldingLimit() const { return laserWavenumber / undersampling; }
};

struct Options {
  Sampling sampling;
  bool removeDc = true;
  ZpdSearch zpdSearch = ZpdSearch::LargestMagnitude;
  std::size_t zpdIndex = 0;  // with ZpdSearch::Given
  Apodization apodization = Apodization::BlackmanHarris3;
  int zeroFill = 2;  // 1, 2, 4 or 8
  Phase phase = Phase::Mertz;
  double phaseResolution = 32;  // cm-1: sets the length of the stretch the Mertz phase comes from
};

// Point k of a spectrum lies at first + k * step cm-1.
struct Axis {
  double first = 0;
  double step = 0;
  std::size_t points = 0;
  double at(std::size_t k) const { return first + static_cast<double>(k) * step; }
};

struct Spectrum {
  Axis axis;
  std::vector<double> values;
  std::size_t zpdIndex = 0;
  std::size_t transformPoints = 0;  // N
  std::size_t phasePoints = 0;      // the double-sided stretch the Mertz phase came from; 0 for Power
  double mean = 0;                  // the mean removed
};

inline constexpr std::size_t kMostTransformPoints = std::size_t{1} << 24;

// The options are all within their documented values.
Error checkOptions(const Options& options);

// The points are finite and not all equal.
Error checkInterferogram(std::span<const double> points);

// Subtracts the mean and returns it.
double removeDc(std::span<double> points);

// The ZPD as the search says; the first on ties. Given: the index as it is (checked by the caller).
std::size_t findZpd(std::span<const double> points, ZpdSearch search, std::size_t given = 0);

// The window's value at x, the distance from the ZPD over its side's length (0 to 1).
double apodizationAt(Apodization apodization, double x);

// The lengths each side of the ZPD is scaled to: its own, or the long side's on both sides where the
// Mertz ramp covers the short one.
struct SideLengths {
  std::size_t left, right;
};
// Whether a Mertz transform ramps this interferogram: one side is more than a point shorter.
bool needsMertzRamp(std::size_t points, std::size_t zpd);
SideLengths apodizationSides(std::size_t points, std::size_t zpd, Phase phase);

// Multiplies each point by the window about the ZPD, each side scaled to its length in `sides`.
void apodize(std::span<double> points, std::size_t zpd, Apodization apodization, SideLengths sides);

// Weights a single-sided interferogram by the Mertz ramp: 0 at the short side's end, 1 at the ZPD, 2
// as far past it, 2 beyond, so that the double-sided part is not counted twice.
void applyMertzRamp(std::span<double> points, std::size_t zpd);

// The transform's length: points x factor, up to the next power of two; 0 past kMostTransformPoints.
std::size_t transformLength(std::size_t points, int zeroFill);

// The points zero-filled to `length` with the ZPD first and the points before it wrapped to the end.
void rotateIntoTransform(std::span<const double> points, std::size_t zpd, std::span<double> transform);

// The points of the Mertz phase stretch each side of the ZPD for this resolution and short side.
std::size_t phaseHalfLength(const Options& options, std::size_t points, std::size_t zpd);

// The length the phase stretch is transformed at: a power of two of at least twice its points (so
// that interpolating between its bins stays close to the phase), at most the spectrum's `length`.
std::size_t phaseTransformLength(std::size_t half, std::size_t length);

// The triangular-apodized double-sided stretch of `half` points each side of the ZPD, rotated into
// `transform` as rotateIntoTransform does.
void phaseStretch(std::span<const double> points, std::size_t zpd, std::size_t half, std::span<double> transform);

// The phase-corrected spectrum Re(F e^(-i phi)), phi the phase of `phaseSpectrum`, a transform of a
// power-of-two fraction of F's length whose bins are interpolated linearly onto F's (F's real part
// where the interpolated bin is 0).
void correctPhase(std::span<const std::complex<double>> spectrum, std::span<const std::complex<double>> phaseSpectrum,
                  std::span<double> real);

// The magnitude of each bin.
void magnitude(std::span<const std::complex<double>> spectrum, std::span<double> real);

// The axis of a transform of `length` points: 0 to the folding limit.
Axis axisFor(const Sampling& sampling, std::size_t length);

// The whole road from interferogram to single-beam spectrum. Error::None, or the first failure.
Error process(std::span<const double> interferogram, const Options& options, Spectrum& spectrum);

// Whether two axes are the same: equal points, steps equal within 1e-9 relative, firsts within
// 1e-9 of a step.
bool sameAxis(const Axis& a, const Axis& b);

// Transmittance or absorbance of sample against background on one axis, NaN where undefined.
Error ratio(std::span<const double> sample, const Axis& sampleAxis, std::span<const double> background,
            const Axis& backgroundAxis, Ratio kind, std::span<double> result);

// The vertex of the parabola through three points one step apart: its offset from the middle point in
// steps, and its value. The middle point itself when the three lie on a line (or one is missing).
struct Vertex {
  double offset;
  double value;
};
Vertex parabolaVertex(double left, double middle, double right);

struct Band {
  double position;  // cm-1
  double height;
};
// The local maxima between low and high cm-1 that reach minHeight and stand minProminence above the
// higher of their bases (the lowest points before a higher one, a missing one or the range's end, on
// either side), from the highest wavenumber down, each refined by the parabola through it and its
// neighbours.
std::vector<Band> findBands(std::span<const double> values, const Axis& axis, double low, double high,
                            double minHeight, double minProminence);

}  // namespace dorvane::spectra
