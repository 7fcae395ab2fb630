// The virtual bench's source, optics, air and sample: every line and band it shows, in one place.
#include "sim/source_light.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "spectra/calibration.h"

namespace dorvane::sim {
namespace {

// A polystyrene film about 0.04 mm thick: a model, not a certified reference. Its bands at the
// positions FTIR users calibrate against (spectra/calibration.h), each with its depth (absorbance)
// and half width (cm-1), and beside them the bands that shape the two stretches a resolution check
// looks at: the CH2 stretches' strong band at 2923 cm-1 (deeper than absorbance 1, as in a real film,
// yet above 1 %T) and the one at 2849.5, with the transmittance's maximum near 2870 between them;
// 1601.2 and 1583.0, with the maximum near 1589 between them. Depths and widths are ours, set so
// that a healthy bench at its best resolution shows what a real film shows there: %T at 2870 less
// %T at 2849.5 about 40 (more than 18 is the pharmacopoeias' pass), at 1589 less at 1583 about 20
// (more than 12). The film's other strong bands (1493, 1452, 756 cm-1) are left out, as no check
// looks at them. The neighbours' tails move no listed band's peak by more than 0.05 cm-1.
struct BandShape {
  double depth, halfWidth;
};
constexpr BandShape kPolystyreneShapes[] = {
    {0.45, 3.0}, {0.90, 4.0}, {0.35, 3.0}, {0.62, 3.0}, {0.12, 4.0}, {0.11, 4.0}, {0.08, 4.0},
    {0.50, 4.0}, {0.22, 3.0}, {0.18, 3.0}, {0.28, 3.0}, {0.35, 3.0}, {0.30, 2.5}, {1.00, 3.0},
};
static_assert(std::size(kPolystyreneShapes) == std::size(spectra::kPolystyreneBands));

const std::array<Band, std::size(kPolystyreneShapes)> kPolystyrene = [] {
  std::array<Band, std::size(kPolystyreneShapes)> bands{};
  for (std::size_t i = 0; i < bands.size(); ++i)
    bands[i] = {spectra::kPolystyreneBands[i], kPolystyreneShapes[i].depth, kPolystyreneShapes[i].halfWidth};
  return bands;
}();
constexpr Band kPolystyreneUnlisted[] = {{2923.0, 1.50, 22.0}};

// The film's two faces each reflect ((n - 1) / (n + 1))^2 of the light, n = 1.59 for polystyrene in
// the mid infrared: the film lets through at most (1 - 0.052)^2, about 90 %, even between its bands.
constexpr double kFilmIndex = 1.59;
constexpr double kFilmFaces = [] {
  constexpr double reflected = (kFilmIndex - 1) * (kFilmIndex - 1) / ((kFilmIndex + 1) * (kFilmIndex + 1));
  return (1 - reflected) * (1 - reflected);
}();

// The air in the beam path: carbon dioxide and water vapour as optical depths (natural log), never
// deeper than 0.35, so the air lets through at least 70 % anywhere.
//
// Carbon dioxide's asymmetric stretch (band centre 2349 cm-1) as its P and R branch humps, and its
// bend (667 cm-1) as the sharp Q branch between two low humps. A hump is a Gaussian in wavenumber.
struct Hump {
  double centre;  // cm-1
  double depth;   // at the centre: an optical depth in the air, an absorbance in the gas cell
  double width;   // cm-1, where the depth has fallen to 1/e
};
constexpr Hump kCarbonDioxideHumps[] = {{2338.0, 0.30, 7.0}, {2361.0, 0.30, 6.0},
                                        {654.0, 0.12, 7.0},  {681.0, 0.12, 7.0}};
constexpr Band kCarbonDioxideQ{667.4, 0.30, 1.5};  // depth here an optical depth

// The gas cell full of carbon dioxide, in absorbance (decadic), on top of the air's: the same bands
// drawn deeper. The stretch's P and R branches peak at 0.51 at 2338 and 2361 cm-1 with 0.40 between
// them at 2350, all of it within 2290-2410 cm-1; the bend's Q branch reaches 0.51 at 667.4 cm-1
// between P and R shoulders of 0.15. Branches as broad as a real cell's at a few cm-1 and no deeper
// keep the band's measured area near proportional to the gas: narrower or deeper ones, smoothed by
// the spectrometer's resolution, saturate (at 1.0 and 7 cm-1 a rise's time constant came out 11 %
// short at the demo's resolution; here under 2 %).
constexpr Hump kCellHumps[] = {{2338.0, 0.5, 12.0}, {2361.0, 0.5, 12.0}, {654.0, 0.15, 7.0}, {681.0, 0.15, 7.0}};
constexpr Band kCellQ{667.4, 0.50, 1.5};

// Water vapour's bend (1300-1950 cm-1) and stretches (3450-4000 cm-1): each a comb of lines about
// 9 cm-1 apart under a P and an R branch envelope, moved by up to 3 cm-1 and weakened by up to 60 %
// along golden-ratio sequences, which never repeat: a comb that repeated would echo in the
// interferogram as real air does not. The lines stand in for the real ones' look, not their
// positions: a background and a sample taken through the same air cancel them.
struct WaterBand {
  double low, high;     // cm-1: where its lines lie
  double centre;        // cm-1: between the two branches
  double branchOffset;  // cm-1: each branch's distance from the centre
};
constexpr WaterBand kWaterBands[] = {{1300, 1950, 1595, 60}, {3450, 4000, 3720, 80}};
constexpr double kWaterSpacing = 9.0;     // cm-1
constexpr double kWaterBranchWidth = 70;  // cm-1, where a branch's envelope has fallen to 1/e
constexpr double kWaterDepth = 0.30;      // the strongest line's optical depth
constexpr double kWaterHalfWidth = 1.2;   // cm-1
constexpr double kWaterShift = 3.0;       // cm-1, the most a line moves either way
constexpr double kWaterWeakening = 0.6;   // the most a line loses of its envelope's depth

// The bench's response: the detector and beamsplitter pass nothing below 380 cm-1 and everything
// from 600 cm-1, fall away between 4500 and 7000 cm-1, and the beamsplitter is best near 3000 cm-1.
// The optical filter then closes between 80 % and 92 % of the folding limit.
constexpr double kResponseRise[] = {380, 600};
constexpr double kResponseFall[] = {4500, 7000};
constexpr double kFilterFall[] = {0.80, 0.92};  // of the folding limit

// Planck's second radiation constant hc/k, cm K.
constexpr double kSecondRadiation = 1.438776877;

// 0 below `from`, 1 above `to`, a raised cosine between.
double rise(double x, double from, double to) {
  if (x <= from) return 0;
  if (x >= to) return 1;
  return 0.5 - 0.5 * std::cos(std::numbers::pi * (x - from) / (to - from));
}

double lorentzian(const Band& band, double wavenumber) {
  const double offset = wavenumber - band.centre;
  const double w2 = band.halfWidth * band.halfWidth;
  return band.depth * w2 / (offset * offset + w2);
}

double gaussian(const Hump& hump, double wavenumber) {
  const double u = (wavenumber - hump.centre) / hump.width;
  return hump.depth * std::exp(-u * u);
}

std::vector<Band> waterLines() {
  std::vector<Band> lines;
  for (const WaterBand& band : kWaterBands) {
    double n = 0;
    for (double at = band.low; at < band.high; at += kWaterSpacing, ++n) {
      // Two sequences of fractions in [0, 1) that fill it evenly and never repeat.
      const double shift = std::fmod(n * std::numbers::phi, 1.0);
      const double weakening = std::fmod(n * std::numbers::sqrt2, 1.0);
      const double centre = at + kWaterShift * (2 * shift - 1);
      const auto branch = [&](double middle) {
        const double u = (centre - middle) / kWaterBranchWidth;
        return std::exp(-u * u);
      };
      const double envelope = branch(band.centre - band.branchOffset) + branch(band.centre + band.branchOffset);
      lines.push_back({centre, kWaterDepth * envelope * (1 - kWaterWeakening * weakening), kWaterHalfWidth});
    }
  }
  return lines;
}

double airOpticalDepth(double wavenumber) {
  static const std::vector<Band> water = waterLines();
  double depth = lorentzian(kCarbonDioxideQ, wavenumber);
  for (const Hump& hump : kCarbonDioxideHumps) depth += gaussian(hump, wavenumber);
  for (const Band& line : water) depth += lorentzian(line, wavenumber);
  return depth;
}

// The blackbody's spectral radiance per wavenumber, less its constant factor.
double planck(double wavenumber, double temperature) {
  return wavenumber * wavenumber * wavenumber / std::expm1(kSecondRadiation * wavenumber / temperature);
}

double response(double wavenumber, double foldingLimit) {
  const double beamsplitter = 1 - 0.35 * std::pow((wavenumber - 3000) / 4000, 2);
  return rise(wavenumber, kResponseRise[0], kResponseRise[1]) *
         (1 - rise(wavenumber, kResponseFall[0], kResponseFall[1])) *
         (1 - rise(wavenumber, kFilterFall[0] * foldingLimit, kFilterFall[1] * foldingLimit)) * beamsplitter;
}

}  // namespace

std::span<const Band> polystyreneBands() { return kPolystyrene; }
std::span<const Band> polystyreneUnlistedBands() { return kPolystyreneUnlisted; }

double openBeam(double wavenumber, double temperature, double foldingLimit) {
  const double passed = response(wavenumber, foldingLimit);
  if (passed <= 0) return 0;
  return planck(wavenumber, temperature) * passed * std::exp(-airOpticalDepth(wavenumber));
}

double transmittance(Sample sample, double wavenumber, double fill) {
  double absorbance = 0;
  switch (sample) {
    case Sample::None: return 1;
    case Sample::Polystyrene:
      for (const Band& band : kPolystyrene) absorbance += lorentzian(band, wavenumber);
      for (const Band& band : kPolystyreneUnlisted) absorbance += lorentzian(band, wavenumber);
      return kFilmFaces * std::pow(10.0, -absorbance);
    case Sample::CarbonDioxideCell:
      absorbance = lorentzian(kCellQ, wavenumber);
      for (const Hump& hump : kCellHumps) absorbance += gaussian(hump, wavenumber);
      absorbance *= fill;
      break;
  }
  return std::pow(10.0, -absorbance);
}

double cellFill(std::chrono::duration<double> elapsed, std::chrono::duration<double> fillTime) {
  return -std::expm1(-std::max(elapsed.count(), 0.0) / fillTime.count());
}

unsigned cellFillStep(std::chrono::duration<double> elapsed, std::chrono::duration<double> fillTime) {
  return static_cast<unsigned>(std::lround(cellFill(elapsed, fillTime) * kCellFillSteps));
}

}  // namespace dorvane::sim
