// The processing steps on synthetic interferograms with known lines: the transform, the axis and
// folding, each window's line width, the Mertz phase on single-sided data, ratios and bands, and
// the C interface's refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "dorvane_spectra.h"
#include "spectra/fft.h"
#include "spectra/spectra.h"

namespace dorvane::spectra {
namespace {

constexpr double kPi = std::numbers::pi;

struct Line {
  double wavenumber;
  double amplitude;
};

// Points j = 0 .. points-1 at path difference (j - zpd + shift) dx, each line a cosine with `phase`
// added (a constant plus `slope` cm times the wavenumber: a shifted ZPD).
std::vector<double> interferogram(std::size_t points, double zpd, const Sampling& sampling, std::vector<Line> lines,
                                  double phase = 0, double slope = 0) {
  std::vector<double> values(points, 0.0);
  const double dx = sampling.spacingCm();
  for (std::size_t j = 0; j < points; ++j) {
    const double x = (static_cast<double>(j) - zpd) * dx;
    for (const Line& line : lines)
      values[j] += line.amplitude * std::cos(2 * kPi * line.wavenumber * x - phase - slope * line.wavenumber);
  }
  return values;
}

// The strongest point's wavenumber, refined by the parabola through it and its neighbours.
double peakWavenumber(const Spectrum& spectrum) {
  const std::vector<Band> bands = findBands(spectrum.values, spectrum.axis, 0, 1e9, 0, 0);
  EXPECT_FALSE(bands.empty());
  const Band* best = &bands.front();
  for (const Band& band : bands) best = band.height > best->height ? &band : best;
  return best->position;
}

// Full width at half the peak, from the half-height crossings interpolated between points.
double fullWidthAtHalfMaximum(const Spectrum& spectrum) {
  const std::vector<double>& v = spectrum.values;
  const auto peak = static_cast<std::size_t>(std::max_element(v.begin(), v.end()) - v.begin());
  const double half = v[peak] / 2;
  std::size_t left = peak, right = peak;
  while (left > 0 && v[left] > half) --left;
  while (right + 1 < v.size() && v[right] > half) ++right;
  const double l = left + (half - v[left]) / (v[left + 1] - v[left]);
  const double r = right - 1 + (v[right - 1] - half) / (v[right - 1] - v[right]);
  return (r - l) * spectrum.axis.step;
}

TEST(RealFft, MatchesTheDirectSumsBothWays) {
  std::mt19937_64 random(3);
  std::normal_distribution<double> normal;
  for (const std::size_t n : {2u, 12u, 64u}) {
    std::vector<double> x(n);
    for (double& v : x) v = normal(random);
    const RealFft fft(n);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    fft.forward(x, bins);
    for (std::size_t k = 0; k <= n / 2; ++k) {
      std::complex<double> sum = 0;
      for (std::size_t j = 0; j < n; ++j) sum += x[j] * std::polar(1.0, -2 * kPi * double(j * k) / double(n));
      EXPECT_NEAR(std::abs(bins[k] - sum), 0, 1e-12) << "n " << n << " bin " << k;
    }
    std::vector<double> back(n);
    fft.inverse(bins, back);
    for (std::size_t j = 0; j < n; ++j) EXPECT_NEAR(back[j], double(n) * x[j], 1e-11) << "n " << n << " point " << j;
  }
  EXPECT_THROW(RealFft(3), std::invalid_argument);
}

// From 2^18 points the transform goes in four steps over a matrix of 1024 rows (128 and 256 columns),
// untangled as the rows are read: a wrong turn, index or block shows at bins on the matrix's edges,
// at row 512 (which pairs with itself) and between them, and the inverse reads all the others.
TEST(RealFft, LargeTransformsInFourStepsMatchTheDirectSums) {
  std::mt19937_64 random(4);
  std::normal_distribution<double> normal;
  for (const std::size_t n : {std::size_t{1} << 18, std::size_t{1} << 19}) {
    std::vector<double> x(n);
    for (double& v : x) v = normal(random);
    const RealFft fft(n);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    fft.forward(x, bins);
    for (const std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{255}, std::size_t{256}, std::size_t{1023},
                                std::size_t{1024}, std::size_t{512}, std::size_t{1536}, n / 4 - 1, n / 4, n / 4 + 512,
                                n / 2 - 1001, n / 2 - 512, n / 2 - 1, n / 2}) {
      std::complex<double> sum = 0;
      for (std::size_t j = 0; j < n; ++j) sum += x[j] * std::polar(1.0, -2 * kPi * double(j * k % n) / double(n));
      EXPECT_NEAR(std::abs(bins[k] - sum), 0, 1e-9) << "n " << n << " bin " << k;
    }
    std::vector<double> back(n);
    fft.inverse(bins, back);
    double worst = 0;
    for (std::size_t j = 0; j < n; ++j) worst = std::max(worst, std::abs(back[j] / double(n) - x[j]));
    EXPECT_LT(worst, 1e-12) << "n " << n;
  }
}

TEST(Axis, LinesComeBackAtTheirWavenumbersForEveryUndersampling) {
  for (const int r : {1, 2, 4, 8}) {
    Options options;
    options.sampling.undersampling = r;
    options.apodization = Apodization::BlackmanHarris4;
    options.zeroFill = 8;
    const double limit = options.sampling.foldingLimit();
    for (const double fraction : {0.2137, 0.6481}) {
      const double wavenumber = fraction * limit;
      Spectrum spectrum;
      ASSERT_EQ(process(interferogram(4096, 2048, options.sampling, {{wavenumber, 1}}), options, spectrum), Error::None);
      EXPECT_DOUBLE_EQ(spectrum.axis.at(spectrum.axis.points - 1), limit);
      EXPECT_NEAR(peakWavenumber(spectrum), wavenumber, 0.01 * spectrum.axis.step) << "r " << r;
    }
  }
}

TEST(Axis, ALinePastTheFoldingLimitFoldsBack) {
  Options options;
  options.sampling.undersampling = 4;
  options.zeroFill = 8;
  options.apodization = Apodization::BlackmanHarris4;
  const double limit = options.sampling.foldingLimit();
  Spectrum spectrum;
  ASSERT_EQ(process(interferogram(4096, 2048, options.sampling, {{limit + 321.5, 1}}), options, spectrum), Error::None);
  EXPECT_NEAR(peakWavenumber(spectrum), limit - 321.5, 0.01 * spectrum.axis.step);
}

// Widths in units of 1 / (2L), L the largest path difference: boxcar, triangle and Happ-Genzel as
// published for the instrument functions (1.2067, 1.7718, 1.8152); Norton and Beer built theirs to
// widen the boxcar's line by 1.2, 1.4 and 1.6; the Blackman-Harris values are Harris's half-amplitude
// (6 dB) bandwidths of the -67 dB three-term and -92 dB four-term windows.
TEST(Apodization, EachWindowWidensTheLineAsPublished) {
  const struct {
    Apodization apodization;
    double width;
  } windows[] = {
      {Apodization::Boxcar, 1.2067},           {Apodization::Triangular, 1.7718},
      {Apodization::HappGenzel, 1.8152},       {Apodization::BlackmanHarris3, 2.27},
      {Apodization::BlackmanHarris4, 2.72},    {Apodization::NortonBeerWeak, 1.2 * 1.2067},
      {Apodization::NortonBeerMedium, 1.4 * 1.2067}, {Apodization::NortonBeerStrong, 1.6 * 1.2067},
  };
  Options options;
  options.zeroFill = 8;
  options.phase = Phase::Power;
  const std::size_t half = 1024;
  const double largestPath = half * options.sampling.spacingCm();
  for (const auto& window : windows) {
    options.apodization = window.apodization;
    Spectrum spectrum;
    ASSERT_EQ(process(interferogram(2 * half + 1, half, options.sampling, {{3000.25, 1}}), options, spectrum), Error::None);
    EXPECT_NEAR(fullWidthAtHalfMaximum(spectrum) * 2 * largestPath, window.width, 0.02 * window.width)
        << "window " << static_cast<int>(window.apodization);
  }
}

// A single-sided interferogram whose lines carry a linear phase (a constant and a ZPD one point off)
// must give, across its band, what the phase-free double-sided one gives: the Mertz ramp neither drops
// nor counts twice the part measured on both sides, and the phase comes off. (The mean differs between
// the two, so the first bins do too.)
TEST(Phase, MertzTurnsASingleSidedInterferogramIntoTheDoubleSidedSpectrum) {
  Options options;
  options.zeroFill = 4;
  const std::size_t longSide = 2048, shortSide = 200;
  std::vector<Line> lines;  // irregular and many, as from a continuum, so the centre burst stands out
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> jitter(0, 7);
  for (double wavenumber = 800; wavenumber < 3500; wavenumber += 3 + jitter(random))
    lines.push_back({wavenumber, std::sin(kPi * (wavenumber - 800) / 2700)});
  Spectrum doubleSided, singleSided;
  ASSERT_EQ(process(interferogram(2 * longSide + 1, longSide, options.sampling, lines), options, doubleSided), Error::None);
  const double slope = 2 * kPi * options.sampling.spacingCm();  // the ZPD a point later
  options.zeroFill = 8;  // the same transform length for the shorter interferogram
  ASSERT_EQ(process(interferogram(shortSide + longSide, shortSide, options.sampling, lines, 0.4, slope), options,
                    singleSided),
            Error::None);
  ASSERT_EQ(singleSided.zpdIndex, shortSide + 1);
  ASSERT_TRUE(sameAxis(doubleSided.axis, singleSided.axis));
  const double largest = *std::max_element(doubleSided.values.begin(), doubleSided.values.end());
  double worst = 0;
  for (std::size_t k = 0; k < doubleSided.values.size(); ++k) {
    if (doubleSided.axis.at(k) > 400) worst = std::max(worst, std::abs(singleSided.values[k] - doubleSided.values[k]));
  }
  EXPECT_LT(worst / largest, 1e-3);
}

TEST(Ratio, TransmittanceAndAbsorbanceMarkWhatIsUndefinedAsMissing) {
  const Axis axis{0, 2, 5};
  const std::vector<double> sample = {1, 2, 0, 3, -1};
  const std::vector<double> background = {2, 2, 4, 0, 1};
  std::vector<double> t(5), a(5);
  ASSERT_EQ(ratio(sample, axis, background, axis, Ratio::Transmittance, t), Error::None);
  ASSERT_EQ(ratio(sample, axis, background, axis, Ratio::Absorbance, a), Error::None);
  EXPECT_DOUBLE_EQ(t[0], 0.5);
  EXPECT_DOUBLE_EQ(a[0], std::log10(2.0));
  EXPECT_DOUBLE_EQ(a[1], 0);
  EXPECT_DOUBLE_EQ(t[2], 0);
  EXPECT_TRUE(std::isnan(a[2]));  // no light through the sample: absorbance without bound
  EXPECT_TRUE(std::isnan(t[3]) && std::isnan(a[3]));  // no background to divide by
  EXPECT_TRUE(std::isnan(a[4]));
  const Axis finer{0, 1, 5};
  EXPECT_EQ(ratio(sample, axis, background, finer, Ratio::Absorbance, a), Error::AxisMismatch);
}

TEST(Bands, NoiseOnAFlankIsNoBandAndPeaksAreRefinedBetweenPoints) {
  const Axis axis{0, 0.5, 400};
  std::vector<double> values(axis.points);
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double x = axis.at(k);
    values[k] = 1 / (1 + std::pow((x - 50.3) / 2, 2)) + 0.4 / (1 + std::pow((x - 150.1) / 2, 2)) +
                0.01 * std::sin(k * 2.1);  // wiggles that make small summits of their own
  }
  values[350] = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Band> bands = findBands(values, axis, 0, 199, 0.1, 0.1);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_NEAR(bands[0].position, 150.1, 0.1);  // from the highest wavenumber down
  EXPECT_NEAR(bands[1].position, 50.3, 0.1);
}

// Every refusal of the C interface: one code, its phrase, and nothing written.
TEST(CInterface, BadInputIsRefusedWithOneCodeAndNothingWritten) {
  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  std::vector<double> out(64, 7.0);
  const auto refused = [&](std::vector<double> points, int32_t capacity = 64) {
    points.reserve(1);  // a real pointer even for no points
    return dorvane_spectrum_process(points.data(), static_cast<int32_t>(points.size()), &options, out.data(), capacity,
                                    nullptr);
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(refused({}), DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS);
  EXPECT_EQ(refused({1.0}), DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS);
  EXPECT_EQ(refused(std::vector<double>(16, 0.0)), DORVANE_SPECTRA_ERROR_NO_SIGNAL);
  EXPECT_EQ(refused({1, 2, nan, 4}), DORVANE_SPECTRA_ERROR_NOT_FINITE);
  EXPECT_EQ(refused({0, 0, 0, 5}), DORVANE_SPECTRA_ERROR_TOO_FEW_POINTS);  // no point past the ZPD for the phase
  EXPECT_EQ(refused({0, 1, 5, 1, 0, 1, 0, 1, 0, 1, 0, 1}, 12), DORVANE_SPECTRA_ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(refused({0, 1, 1e300, 1e300, 1}), DORVANE_SPECTRA_ERROR_NOT_FINITE);
  EXPECT_EQ(dorvane_spectrum_process(nullptr, 4, &options, out.data(), 64, nullptr), DORVANE_SPECTRA_ERROR_NULL_POINTER);
  options.zero_fill = 3;
  EXPECT_EQ(refused({0, 1, 5, 1, 0}), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  options.zero_fill = 8;
  options.apodization = 8;
  EXPECT_EQ(refused({0, 1, 5, 1, 0}), DORVANE_SPECTRA_ERROR_BAD_OPTION);
  dorvane_spectrum_default_options(&options);
  options.zero_fill = 8;
  dorvane_spectrum_axis axis;
  EXPECT_EQ(dorvane_spectrum_axis_for(1 << 22, &options, &axis), DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double v) { return v == 7.0; }));
  int32_t count = 0;
  ASSERT_EQ(dorvane_spectra_polystyrene_bands(out.data(), 3, &count), DORVANE_SPECTRA_OK);
  EXPECT_EQ(count, 14);
  EXPECT_EQ(out[2], 3001.4);
  EXPECT_EQ(out[3], 7.0);  // nothing past the capacity
  EXPECT_STREQ(dorvane_spectra_error_text(DORVANE_SPECTRA_ERROR_AXIS_MISMATCH),
               "the two spectra lie on different wavenumber axes");
}

}  // namespace
}  // namespace dorvane::spectra
