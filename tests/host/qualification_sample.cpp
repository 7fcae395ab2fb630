// The made-up qualification: figures in the ranges a healthy bench gives, but for the two failures.
#include "tests/host/qualification_sample.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace dorvane::testing {
namespace {

using host::qualification::Curve;
using host::qualification::FigureTrend;

// Noise that is the same on every run: a linear congruential sequence mapped to [-1, 1].
class Noise {
 public:
  double next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53) * 2 - 1;
  }

 private:
  std::uint64_t state_ = 37;
};

}  // namespace

nlohmann::ordered_json sampleQualificationReport() {
  return nlohmann::ordered_json::parse(R"json({
  "format": "dorvane qualification 1",
  "made": "2026-12-09T21:40:03Z",
  "measured": "2026-12-09T21:38:12Z",
  "verdict": "fail",
  "failures": ["wavenumber accuracy: no band within 5 cm-1 of 1028.3",
               "energy: the centre burst is 61.3 % of the reference's (least 70 %)"],
  "software": {"host": "0.1.0", "driver": "0.1.0", "spectra": "0.1.0"},
  "bench": {"identity": 2384, "name": "family 9 model 60", "serial": "9/60 unit 1",
            "setup": "detector DTGS\nbeamsplitter KBr\nsource glowbar, 12 V\naperture 6 mm"},
  "acquisition": {"points": 65535, "scans": 16, "samples": 5, "nominal_resolution": 0.48,
                  "processing": {"apodization": "blackman-harris-3", "zero_fill": 2, "phase": "mertz",
                                 "phase_resolution": 32, "laser_wavenumber": 15798.0, "undersampling": 2}},
  "limits": {"file": null,
             "values": {"band_tolerance_3060.0": 1.5, "band_tolerance_1028.3": 1.0, "resolution_least_2870": 18,
                        "energy_least_share": 0.7},
             "sources": {"band_tolerance_3060.0": "European Pharmacopoeia 2.2.24, polystyrene film",
                         "band_tolerance_1028.3": "European Pharmacopoeia 2.2.24, polystyrene film",
                         "resolution_least_2870": "European Pharmacopoeia 2.2.24, for a film about 0.04 mm thick",
                         "energy_least_share": "ASTM E1421 level one: the bench against its own earlier results"}},
  "files": [{"name": "background-001.csv", "role": "background",
             "sha256": "64ec88ca00b268e5ba1a35678a1b5316d212f4f366b2477232534a8aeca37f3c"},
            {"name": "sample-001.csv", "role": "sample",
             "sha256": "4ad7c2a6e0a1eab1b0ef5b15d6d6c0a4ad0b3e7bfa8c1c0f3e3b9a0d8c1e2f70"}],
  "tests": {
    "wavenumber_accuracy": {"passed": false, "method": "The minimum of %T by a parabola through the lowest point and its two neighbours.",
      "bands": [
        {"listed": 3060.0, "found": 3060.04, "error": 0.04, "tolerance": 1.5, "passed": true},
        {"listed": 2849.5, "found": 2849.62, "error": 0.12, "tolerance": 1.5, "passed": true},
        {"listed": 1942.9, "found": 1943.1, "error": 0.2, "tolerance": 1.5, "passed": true},
        {"listed": 1601.2, "found": 1601.15, "error": -0.05, "tolerance": 1.0, "passed": true},
        {"listed": 1583.0, "found": 1583.02, "error": 0.02, "tolerance": 1.0, "passed": true},
        {"listed": 1154.5, "found": 1154.41, "error": -0.09, "tolerance": 1.0, "passed": true},
        {"listed": 1028.3, "found": null, "error": null, "tolerance": 1.0, "passed": false,
         "failure": "no band within 5 cm-1 of 1028.3"}]},
    "resolution": {"passed": true, "nominal_resolution": 0.48, "coarsest": 2.0,
      "note": "limits for a film about 0.04 mm thick",
      "pairs": [
        {"maximum_near": 2870, "minimum_near": 2849.5, "maximum_at": 2870.3, "minimum_at": 2849.6,
         "maximum": 74.1, "minimum": 36.0, "difference": 38.1, "least": 18, "passed": true},
        {"maximum_near": 1589, "minimum_near": 1583, "maximum_at": 1589.4, "minimum_at": 1583.1,
         "maximum": 60.2, "minimum": 45.9, "difference": 14.3, "least": 12, "passed": true}]},
    "hundred_percent_line": {"passed": true, "rms_most": 0.1, "peak_to_peak_most": 0.5,
      "ranges": [
        {"low": 2000, "high": 2200, "mean": 100.0, "rms": 0.02, "peak_to_peak": 0.1, "difference_rms": 0.02, "passed": true},
        {"low": 1000, "high": 1200, "mean": 99.99, "rms": 0.03, "peak_to_peak": 0.14, "difference_rms": 0.03, "passed": true}],
      "departure": {"low": 600, "high": 4000, "value": -0.4, "at": 3712.5, "most": 2, "passed": true}},
    "energy": {"passed": false, "least_share": 0.7,
      "reference": {"folder": "qualification-20261201-081500", "made": "2026-12-01T08:16:40Z", "self": false},
      "levels": [
        {"wavenumber": 4400, "level": 1.2e6, "reference": 1.25e6, "share": 0.96, "passed": true},
        {"wavenumber": 2000, "level": 3.1e6, "reference": 3.2e6, "share": 0.969, "passed": true},
        {"wavenumber": 1000, "level": 1.9e6, "reference": 2.0e6, "share": 0.95, "passed": true}],
      "burst": {"amplitude": 3.8, "reference": 6.2, "share": 0.613, "passed": false,
                "failure": "the centre burst is 61.3 % of the reference's (least 70 %)"}},
    "repeatability": {"passed": true, "samples": 5, "position_most": 0.1, "percent_most": 0.5,
      "positions": [{"listed": 3060.0, "mean": 3060.03, "standard_deviation": 0.004, "passed": true},
                    {"listed": 1601.2, "mean": 1601.16, "standard_deviation": 0.006, "passed": true}],
      "percents": [{"band": 1601.2, "mean": 40.2, "standard_deviation": 0.03, "passed": true},
                   {"band": 1028.3, "mean": 52.7, "standard_deviation": 0.04, "passed": true}]}
  }
})json");
}

Curve sampleFilm() {
  // Polystyrene's bands: position, peak absorbance, half width at half height (cm-1).
  struct Band {
    double at, absorbance, halfWidth;
  };
  static constexpr Band kBands[] = {
      {3082, 0.25, 4}, {3060, 0.55, 4},   {3026, 0.9, 5},   {2923, 1.3, 12}, {2849.5, 0.38, 4}, {1942.9, 0.12, 5},
      {1871, 0.1, 5},  {1801, 0.08, 5},   {1601.2, 0.55, 2.5}, {1583, 0.28, 2.5}, {1493, 1.6, 4}, {1452, 1.4, 5},
      {1154.5, 0.2, 3}, {1069, 0.25, 3}, {1028.3, 0.4, 3}, {906, 0.6, 4},      {756, 2.2, 5},   {698, 2.6, 6}};
  Curve film;
  Noise noise;
  constexpr std::size_t kPoints = 65536;
  for (std::size_t i = 0; i < kPoints; ++i) {
    const double wavenumber = 400 + 4000.0 * static_cast<double>(i) / (kPoints - 1);
    double absorbance = 0.02;
    for (const Band& band : kBands) {
      const double distance = (wavenumber - band.at) / band.halfWidth;
      absorbance += band.absorbance / (1 + distance * distance);
    }
    film.wavenumbers.push_back(wavenumber);
    film.values.push_back(100 * std::pow(10, -absorbance) + 0.05 * noise.next());
  }
  return film;
}

Curve sampleHundredPercentLine() {
  Curve line;
  Noise noise;
  constexpr std::size_t kPoints = 65536;
  for (std::size_t i = 0; i < kPoints; ++i) {
    const double wavenumber = 400 + 4000.0 * static_cast<double>(i) / (kPoints - 1);
    // Little energy at the ends of the range: more noise there.
    const double spread = 0.03 + 0.4 * std::exp(-(wavenumber - 400) / 150) + 0.3 * std::exp((wavenumber - 4400) / 300);
    line.wavenumbers.push_back(wavenumber);
    line.values.push_back(100 - 0.1 * std::sin(wavenumber / 700) + spread * noise.next());
  }
  // A stretch with no value, as where a background had none.
  for (std::size_t i = 100; i < 140; ++i) line.values[i] = std::numeric_limits<double>::quiet_NaN();
  return line;
}

std::vector<FigureTrend> sampleTrends() {
  const std::vector<std::string> made = {"2026-12-01T08:16:40Z", "2026-12-02T08:11:02Z", "2026-12-03T08:09:55Z",
                                         "2026-12-04T08:14:20Z", "2026-12-07T08:10:31Z", "2026-12-08T08:12:47Z",
                                         "2026-12-09T21:38:12Z"};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return {
      {"error at 3060.0 cm⁻¹", "cm⁻¹", -1.5, 1.5, made, {0.02, 0.03, 0.01, 0.05, 0.04, 0.03, 0.04}},
      {"error at 1028.3 cm⁻¹", "cm⁻¹", -1.0, 1.0, made, {0.01, -0.02, 0.0, 0.03, 0.02, 0.04, nan}},
      {"difference 2870/2849.5", "%T", 18, std::nullopt, made, {38.9, 38.7, 38.8, 38.4, 38.5, 38.2, 38.1}},
      {"RMS noise 2000–2200", "%T", std::nullopt, 0.1, made, {0.018, 0.021, 0.019, 0.02, 0.022, 0.02, 0.02}},
      {"centre burst share", "%", 70, std::nullopt, made, {100, 98.1, 95.4, 90.2, 83.7, 72.5, 61.3}},
      {"level at 2000 cm⁻¹ share", "%", 70, std::nullopt, made, {100, 99.5, 99.2, 98.7, 98.1, 97.6, 96.9}},
  };
}

}  // namespace dorvane::testing
