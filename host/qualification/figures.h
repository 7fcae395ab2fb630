// A qualification's figures from its raw interferograms: the film's transmittance against the first
// background, the 100 % line of the second against the first, the first background's single beam
// and centre burst; each test's figures, limits and verdict as the report's "tests" hold them.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/analysis/processing.h"
#include "host/files/interferogram_files.h"
#include "host/qualification/qualification_settings.h"
#include "host/qualification/report_page.h"

namespace dorvane::host::qualification {

// The raw interferograms of a run, in the order they were taken, with their files' names.
struct RawFiles {
  std::vector<InterferogramRecord> backgrounds, samples;
  std::vector<std::string> backgroundNames, sampleNames;
};

// The energy a run is compared with: an earlier run's levels and burst, or none for the first.
struct Reference {
  std::string folder, made;
  double resolution = 0;  // cm-1, nominal: energy figures compare only at one
  std::vector<double> levels;  // at the limits' energy wavenumbers
  double burst = 0;
};

// One figure of the history table, with the limits its trend is drawn against.
struct HistoryFigure {
  std::string name, unit;
  std::optional<double> value;  // none: not had this run
  std::optional<double> least, most;
};

struct Figures {
  nlohmann::ordered_json tests;        // the report's "tests"
  std::vector<std::string> failures;   // one line each, "TEST: what failed"
  double nominalResolution = 0;        // cm-1
  Curve film, line;                    // the first sample's %T, the 100 % line's %T
  std::vector<double> levels;          // the first background's single beam at the energy wavenumbers
  double burst = 0;                    // its centre burst, volts peak to peak
  // Each sample's transmittance, the 100 % line, the first background's single beam, with the stems
  // of their files' names.
  std::vector<std::pair<std::string, SpectrumRecord>> spectra;
  std::vector<HistoryFigure> history;
};

// The processing every qualification uses: the spectra library's defaults, transmittance.
ProcessingOptions qualificationProcessing();
// The report's "processing" for the options and the first interferogram's sampling.
nlohmann::ordered_json processingJson(const InterferogramRecord& first);

// The nominal resolution (cm-1) of an interferogram of `points` points, double-sided, at
// `undersampling`, as the spectra library computes it.
double nominalResolution(std::int32_t points, std::int32_t undersampling);

// Every test. Throws HostFailure for files that cannot be made into spectra at all (too few, another
// axis); a test that cannot be computed fails in the figures instead, with its reason.
Figures computeFigures(const RawFiles& raw, const QualificationSettings& settings, const std::optional<Reference>& reference);

// `value` with `decimals` decimals, or 6 significant digits when decimals < 0: the report's figures
// are rounded so that remaking a report gives the same text.
double rounded(double value, int decimals);

}  // namespace dorvane::host::qualification
