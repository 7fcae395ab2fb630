// The light the virtual bench's detector sees: a blackbody source through the bench's optics and the
// room's air, and the sample the shuttle can put in the beam. The lines and bands are listed here.
#pragma once

#include <chrono>
#include <span>

namespace dorvane::sim {

inline constexpr double kLaserWavenumber = 15798.0;    // cm-1: the reference laser the bench samples by
inline constexpr double kDefaultTemperature = 1200.0;  // K: a glowing ceramic source

// What the shuttle holds: nothing, a polystyrene film, or a gas cell whose carbon dioxide fills with
// time.
enum class Sample { None, Polystyrene, CarbonDioxideCell };

// The gas cell's fill moves in steps of 1/kCellFillSteps of full: fine enough for a fit of its time
// constant, few enough that the bench works out each step's scan once.
inline constexpr unsigned kCellFillSteps = 256;
inline constexpr std::chrono::duration<double> kDefaultFillTime{30.0};  // the cell's time constant

// An absorption band: its absorbance (decadic) is a Lorentzian, `depth` at `centre`, half of that at
// centre ± halfWidth.
struct Band {
  double centre;     // cm-1
  double depth;      // absorbance at the centre
  double halfWidth;  // cm-1, half width at half height
};

// The bands of a polystyrene film, the film FTIR users calibrate wavenumbers with, at its published
// positions; each is the absorbance's peak to within 0.05 cm-1 once its neighbours' tails are added.
std::span<const Band> polystyreneBands();
// The film's bands that are no calibration position but shape the spectrum a resolution check
// looks at (the strong CH2 stretch at 2923 cm-1).
std::span<const Band> polystyreneUnlistedBands();

// The spectrum at the detector with nothing in the beam, at `wavenumber` (cm-1), in arbitrary units:
// the blackbody at `temperature` (K) through the bench's response and the air. It is zero at and
// above 92 % of `foldingLimit` (cm-1), as the bench's optical filter makes it, so nothing folds.
double openBeam(double wavenumber, double temperature, double foldingLimit);

// The fraction of the light that `sample` lets through at `wavenumber` (cm-1); 1 for none. The gas
// cell's absorbance is `fill` (0 empty, 1 full) times that of the full cell; the other samples
// ignore it.
double transmittance(Sample sample, double wavenumber, double fill = 1);

// The gas cell's fill `elapsed` after it began to fill, by first-order kinetics: 1 - exp(-t / fillTime).
double cellFill(std::chrono::duration<double> elapsed, std::chrono::duration<double> fillTime);
// That fill rounded to the nearest step of 1/kCellFillSteps.
unsigned cellFillStep(std::chrono::duration<double> elapsed, std::chrono::duration<double> fillTime);

}  // namespace dorvane::sim
