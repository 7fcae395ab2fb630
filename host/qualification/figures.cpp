// The five tests of a qualification, each from the spectra library's measures.
#include "host/qualification/figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "host/files/file_text.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host::qualification {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kPositionDecimals = 4;  // cm-1
constexpr int kPercentDecimals = 4;   // %T
constexpr int kSignificant = -1;      // levels and bursts: 6 significant digits

// A spectrum's axis as the library takes it: the host's records hold points at first + k * step.
dorvane_spectrum_axis axisOf(const SpectrumRecord& spectrum) {
  const std::size_t n = spectrum.wavenumbers.size();
  const double step = n > 1 ? (spectrum.wavenumbers.back() - spectrum.wavenumbers.front()) / static_cast<double>(n - 1) : 0;
  return {n ? spectrum.wavenumbers.front() : 0, step, static_cast<std::int32_t>(n)};
}

Json number(double value, int decimals) { return std::isfinite(value) ? Json(rounded(value, decimals)) : Json(nullptr); }

std::string fixed(double value, int decimals, bool sign = false) {
  char text[48];
  std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
  return text;
}

std::string cm(double wavenumber) { return fixed(wavenumber, 1) + " cm-1"; }

Curve curveOf(const SpectrumRecord& spectrum) {
  Curve curve{spectrum.wavenumbers, spectrum.values};
  for (double& value : curve.values) value *= 100;
  return curve;
}

struct Spectra {
  std::vector<SpectrumRecord> films;  // each sample's transmittance
  SpectrumRecord line, singleBeam;
};

Spectra makeSpectra(const RawFiles& raw) {
  SpectrumMaker singleBeams(qualificationProcessing());
  SpectrumMaker ratios(qualificationProcessing());
  ratios.setBackground(raw.backgrounds[0], raw.backgroundNames[0]);
  Spectra spectra;
  for (std::size_t i = 0; i < raw.samples.size(); ++i) spectra.films.push_back(ratios.make(raw.samples[i], raw.sampleNames[i]));
  spectra.line = ratios.make(raw.backgrounds[1], raw.backgroundNames[1]);
  spectra.line.title = "100 % line: " + spectra.line.title;
  spectra.singleBeam = singleBeams.make(raw.backgrounds[0], raw.backgroundNames[0]);
  return spectra;
}

// A band found in one sample: its position and %T, or why not.
struct FoundPosition {
  std::optional<double> position, percent;
  std::string failure;
};

FoundPosition findBand(const SpectrumRecord& film, double listed, const dorvane_qualify_limits& limits) {
  const dorvane_spectrum_axis axis = axisOf(film);
  double position = 0, percent = 0;
  const std::int32_t result = dorvane_qualify_band_position(film.values.data(), &axis, listed, limits.band_window,
                                                            limits.band_least_depth, &position, &percent);
  if (result == DORVANE_SPECTRA_ERROR_NO_BAND) {
    return {std::nullopt, std::nullopt, "no band within " + numberText(limits.band_window) + " cm-1 of " + cm(listed)};
  }
  if (result != DORVANE_SPECTRA_OK) return {std::nullopt, std::nullopt, cm(listed) + ": " + dorvane_spectra_error_text(result)};
  return {position, percent, ""};
}

// Why a figure the library refused is missing.
std::string notMeasured(std::int32_t result) { return std::string("cannot be measured: ") + dorvane_spectra_error_text(result); }

void fail(Figures& figures, const std::string& test, const std::string& line) { figures.failures.push_back(test + ": " + line); }

void wavenumberAccuracy(const SpectrumRecord& film, const dorvane_qualify_limits& limits, Figures& figures) {
  constexpr const char* kTest = "wavenumber accuracy";
  Json bands = Json::array();
  bool passed = true;
  int found = 0;
  for (int i = 0; i < DORVANE_QUALIFY_BANDS; ++i) {
    const double listed = limits.band_positions[i], tolerance = limits.band_tolerances[i];
    const FoundPosition band = findBand(film, listed, limits);
    Json entry{{"listed", listed}};
    if (band.position) {
      ++found;
      const double error = rounded(rounded(*band.position, kPositionDecimals) - listed, kPositionDecimals);
      const bool within = std::fabs(error) <= tolerance;
      entry.update(Json{{"found", number(*band.position, kPositionDecimals)}, {"error", number(error, kPositionDecimals)},
                        {"tolerance", tolerance}, {"passed", within}});
      if (!within) {
        fail(figures, kTest, "the band at " + cm(listed) + " was found at " + fixed(*band.position, 2) + " (" +
                                 fixed(error, 2, true) + "; tolerance ±" + numberText(tolerance) + ")");
      }
      passed = passed && within;
      figures.history.push_back({cm(listed) + " error", "cm-1", error, -tolerance, tolerance});
    } else {
      entry.update(Json{{"found", nullptr}, {"error", nullptr}, {"tolerance", tolerance}, {"passed", false}, {"failure", band.failure}});
      passed = false;
      figures.history.push_back({cm(listed) + " error", "cm-1", std::nullopt, -tolerance, tolerance});
    }
    bands.push_back(entry);
  }
  if (found == 0) {
    fail(figures, kTest, "none of the film's bands was found in the first sample: was the film in the beam? (a background "
                         "given as a sample shows none)");
  } else {
    for (const Json& band : bands) {
      if (band.contains("failure")) fail(figures, kTest, band["failure"].get<std::string>());
    }
  }
  figures.tests[std::string("wavenumber_accuracy")] = Json{
      {"passed", passed},
      {"method", "each band is the lowest %T within ±" + numberText(limits.band_window) + " cm-1 of its listed position, "
                 "placed between the points by the vertex of the parabola fitted by least squares to the band's core (its "
                 "points in the lower half of its depth)"},
      {"bands", bands}};
}

// The %T at the point of `wavenumber`, which the library found at a point of the spectrum's axis.
double percentAt(const SpectrumRecord& film, double wavenumber) {
  const dorvane_spectrum_axis axis = axisOf(film);
  const double k = std::round((wavenumber - axis.first_wavenumber) / axis.wavenumber_step);
  if (!(k >= 0 && k < static_cast<double>(film.values.size()))) return std::numeric_limits<double>::quiet_NaN();
  return 100 * film.values[static_cast<std::size_t>(k)];
}

void resolution(const SpectrumRecord& film, const dorvane_qualify_limits& limits, double nominal, Figures& figures) {
  constexpr const char* kTest = "resolution";
  const dorvane_spectrum_axis axis = axisOf(film);
  Json pairs = Json::array();
  bool passed = true;
  const bool resolvable = nominal <= limits.resolution_coarsest;
  if (!resolvable) {
    fail(figures, kTest, "the spectra's nominal resolution, " + fixed(nominal, 2) + " cm-1, is coarser than the " +
                             numberText(limits.resolution_coarsest) + " cm-1 that can separate the pairs: qualify at "
                             "the bench's best points (leave out --points)");
    passed = false;
  }
  for (int i = 0; i < DORVANE_QUALIFY_RESOLUTION_PAIRS; ++i) {
    const double high = limits.resolution_maxima[i], low = limits.resolution_minima[i], least = limits.resolution_least[i];
    double difference = 0, maximumAt = 0, minimumAt = 0;
    const std::int32_t result = dorvane_qualify_resolution(film.values.data(), &axis, high, low, limits.resolution_windows[i],
                                                           &difference, &maximumAt, &minimumAt);
    Json entry{{"maximum_near", high}, {"minimum_near", low}};
    const std::string name = numberText(high) + "/" + numberText(low);
    if (result != DORVANE_SPECTRA_OK) {
      const std::string why = notMeasured(result);
      entry.update(Json{{"difference", nullptr}, {"least", least}, {"passed", false}, {"failure", why}});
      fail(figures, kTest, "the pair " + name + " cm-1 " + why);
      passed = false;
      figures.history.push_back({"resolution " + name, "%T", std::nullopt, least, std::nullopt});
    } else {
      const double measured = rounded(difference, kPercentDecimals);
      const bool above = measured > least;
      entry.update(Json{{"maximum_at", number(maximumAt, kPositionDecimals)}, {"minimum_at", number(minimumAt, kPositionDecimals)},
                        {"maximum", number(percentAt(film, maximumAt), kPercentDecimals)},
                        {"minimum", number(percentAt(film, minimumAt), kPercentDecimals)},
                        {"difference", measured}, {"least", least}, {"passed", above}});
      if (!above && resolvable) {
        fail(figures, kTest, "%T at the maximum near " + cm(high) + " less at the minimum near " + cm(low) + " is " +
                                 fixed(difference, 2) + ", not more than " + numberText(least));
      }
      passed = passed && above;
      figures.history.push_back({"resolution " + name, "%T", measured, least, std::nullopt});
    }
    pairs.push_back(entry);
  }
  figures.tests[std::string("resolution")] = Json{{"passed", passed},
                                                  {"nominal_resolution", number(nominal, kPositionDecimals)},
                                                  {"coarsest", limits.resolution_coarsest},
                                                  {"note", "limits for a polystyrene film about 0.04 mm thick"},
                                                  {"pairs", pairs}};
}

void hundredPercentLine(const SpectrumRecord& line, const dorvane_qualify_limits& limits, std::int32_t stride, Figures& figures) {
  constexpr const char* kTest = "100 % line";
  const dorvane_spectrum_axis axis = axisOf(line);
  Json ranges = Json::array();
  bool passed = true;
  for (int i = 0; i < DORVANE_QUALIFY_NOISE_RANGES; ++i) {
    const double low = limits.noise_low[i], high = limits.noise_high[i];
    const std::string name = numberText(low) + "-" + numberText(high);
    dorvane_line_noise noise{};
    const std::int32_t result = dorvane_qualify_line_noise(line.values.data(), &axis, low, high, stride, &noise);
    if (result != DORVANE_SPECTRA_OK) {
      const std::string why = notMeasured(result);
      ranges.push_back(Json{{"low", low}, {"high", high}, {"passed", false}, {"failure", why}});
      fail(figures, kTest, "the noise in " + name + " cm-1 " + why);
      passed = false;
      figures.history.push_back({"noise RMS " + name, "%T", std::nullopt, std::nullopt, limits.noise_rms_most});
      figures.history.push_back({"noise peak to peak " + name, "%T", std::nullopt, std::nullopt, limits.noise_peak_to_peak_most});
      continue;
    }
    const double rms = rounded(noise.rms, kPercentDecimals), peak = rounded(noise.peak_to_peak, kPercentDecimals);
    const bool within = rms <= limits.noise_rms_most && peak <= limits.noise_peak_to_peak_most;
    if (rms > limits.noise_rms_most) {
      fail(figures, kTest, "the RMS noise in " + name + " cm-1 is " + fixed(rms, 4) + " %T, above " + numberText(limits.noise_rms_most));
    }
    if (peak > limits.noise_peak_to_peak_most) {
      fail(figures, kTest, "the peak-to-peak noise in " + name + " cm-1 is " + fixed(peak, 4) + " %T, above " +
                               numberText(limits.noise_peak_to_peak_most));
    }
    passed = passed && within;
    ranges.push_back(Json{{"low", low}, {"high", high}, {"mean", number(noise.mean, kPercentDecimals)}, {"rms", rms},
                          {"peak_to_peak", peak}, {"difference_rms", number(noise.difference_rms, kPercentDecimals)},
                          {"passed", within}});
    figures.history.push_back({"noise RMS " + name, "%T", rms, std::nullopt, limits.noise_rms_most});
    figures.history.push_back({"noise peak to peak " + name, "%T", peak, std::nullopt, limits.noise_peak_to_peak_most});
  }
  double departure = 0, at = 0;
  Json entry{{"low", limits.departure_low}, {"high", limits.departure_high}, {"stretch", limits.departure_stretch}};
  const std::int32_t result = dorvane_qualify_line_departure(line.values.data(), &axis, limits.departure_low, limits.departure_high,
                                                             limits.departure_stretch, &departure, &at);
  if (result != DORVANE_SPECTRA_OK) {
    const std::string why = notMeasured(result);
    entry.update(Json{{"value", nullptr}, {"most", limits.departure_most}, {"passed", false}, {"failure", why}});
    fail(figures, kTest, "the largest departure from 100 %T " + why);
    passed = false;
    figures.history.push_back({"100 % line departure", "%T", std::nullopt, -limits.departure_most, limits.departure_most});
  } else {
    const double value = rounded(departure, kPercentDecimals);
    const bool within = std::fabs(value) <= limits.departure_most;
    if (!within) {
      fail(figures, kTest, "the line departs from 100 %T by " + fixed(value, 2, true) + " at " + cm(at) + ", more than " +
                               numberText(limits.departure_most));
    }
    passed = passed && within;
    entry.update(Json{{"value", value}, {"at", number(at, kPositionDecimals)}, {"most", limits.departure_most}, {"passed", within}});
    figures.history.push_back({"100 % line departure", "%T", value, -limits.departure_most, limits.departure_most});
  }
  figures.tests[std::string("hundred_percent_line")] = Json{{"passed", passed},
                                                            {"rms_most", limits.noise_rms_most},
                                                            {"peak_to_peak_most", limits.noise_peak_to_peak_most},
                                                            {"ranges", ranges},
                                                            {"departure", entry}};
}

// One energy figure against the reference's: its share, and whether it keeps enough of it.
Json energyFigure(Json entry, double value, std::optional<double> reference, const dorvane_qualify_limits& limits, bool& passed) {
  const double own = rounded(value, kSignificant);
  const double base = reference ? *reference : own;
  const double share = base > 0 ? rounded(own / base, kPercentDecimals) : 0;
  const bool within = share >= limits.energy_least_share;
  passed = passed && within;
  entry.update(Json{{"reference", rounded(base, kSignificant)}, {"share", share}, {"passed", within}});
  return entry;
}

void energy(const SpectrumRecord& singleBeam, const InterferogramRecord& background, const dorvane_qualify_limits& limits,
            const std::optional<Reference>& reference, Figures& figures) {
  constexpr const char* kTest = "energy";
  const dorvane_spectrum_axis axis = axisOf(singleBeam);
  bool passed = true;
  Json levels = Json::array();
  for (int i = 0; i < DORVANE_QUALIFY_ENERGY_POINTS; ++i) {
    const double at = limits.energy_wavenumbers[i];
    double level = 0;
    const std::int32_t result = dorvane_qualify_level(singleBeam.values.data(), &axis, at, limits.energy_half_width, &level);
    if (result != DORVANE_SPECTRA_OK) {
      const std::string why = notMeasured(result);
      levels.push_back(Json{{"wavenumber", at}, {"level", nullptr}, {"passed", false}, {"failure", why}});
      fail(figures, kTest, "the level at " + cm(at) + " " + why);
      passed = false;
      figures.levels.push_back(std::numeric_limits<double>::quiet_NaN());
      figures.history.push_back({"level at " + cm(at), "", std::nullopt, std::nullopt, std::nullopt});
      continue;
    }
    figures.levels.push_back(rounded(level, kSignificant));
    const std::optional<double> base = reference && i < static_cast<int>(reference->levels.size()) ? std::optional(reference->levels[i]) : std::nullopt;
    bool within = true;
    levels.push_back(energyFigure(Json{{"wavenumber", at}, {"level", rounded(level, kSignificant)}}, level, base, limits, within));
    if (!within) {
      fail(figures, kTest, "the single beam at " + cm(at) + " is " + fixed(100 * levels.back()["share"].get<double>(), 1) +
                               " % of the reference's, below " + numberText(100 * limits.energy_least_share) + " %");
    }
    passed = passed && within;
    figures.history.push_back({"level at " + cm(at), "", rounded(level, kSignificant),
                               base ? std::optional(limits.energy_least_share * *base) : std::nullopt, std::nullopt});
  }
  double amplitude = 0;
  Json burst{};
  const std::int32_t result = dorvane_qualify_burst(background.volts.data(), static_cast<std::int32_t>(background.volts.size()), &amplitude);
  if (result != DORVANE_SPECTRA_OK) {
    burst = Json{{"amplitude", nullptr}, {"passed", false}, {"failure", dorvane_spectra_error_text(result)}};
    fail(figures, kTest, std::string("the centre burst cannot be measured: ") + dorvane_spectra_error_text(result));
    passed = false;
    figures.history.push_back({"centre burst", "V", std::nullopt, std::nullopt, std::nullopt});
  } else {
    figures.burst = rounded(amplitude, kSignificant);
    bool within = true;
    burst = energyFigure(Json{{"amplitude", figures.burst}}, amplitude, reference ? std::optional(reference->burst) : std::nullopt, limits, within);
    if (!within) {
      fail(figures, kTest, "the centre burst is " + fixed(100 * burst["share"].get<double>(), 1) + " % of the reference's, below " +
                               numberText(100 * limits.energy_least_share) + " %");
    }
    passed = passed && within;
    figures.history.push_back({"centre burst", "V", figures.burst,
                               reference ? std::optional(limits.energy_least_share * reference->burst) : std::nullopt, std::nullopt});
  }
  const Json referenceEntry = reference ? Json{{"folder", reference->folder}, {"made", reference->made}, {"self", false}}
                                        : Json{{"folder", Json(nullptr)}, {"made", Json(nullptr)}, {"self", true}};
  figures.tests[std::string("energy")] = Json{{"passed", passed}, {"least_share", limits.energy_least_share},
                                              {"reference", referenceEntry}, {"levels", levels}, {"burst", burst}};
}

// The spread of one figure over the samples; none when a sample lacks it.
std::optional<double> spreadOf(const std::vector<std::optional<double>>& values) {
  std::vector<double> had;
  for (const std::optional<double>& value : values) {
    if (!value) return std::nullopt;
    had.push_back(*value);
  }
  double mean = 0, deviation = 0;
  if (dorvane_qualify_spread(had.data(), static_cast<std::int32_t>(had.size()), &mean, &deviation) != DORVANE_SPECTRA_OK) return std::nullopt;
  return deviation;
}

double meanOf(const std::vector<std::optional<double>>& values) {
  double sum = 0;
  for (const std::optional<double>& value : values) sum += value.value_or(0);
  return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

void repeatability(const std::vector<SpectrumRecord>& films, const dorvane_qualify_limits& limits, Figures& figures) {
  constexpr const char* kTest = "repeatability";
  bool passed = true;
  Json positions = Json::array(), percents = Json::array();
  std::vector<std::vector<FoundPosition>> found(DORVANE_QUALIFY_BANDS);
  for (int i = 0; i < DORVANE_QUALIFY_BANDS; ++i) {
    for (const SpectrumRecord& film : films) found[i].push_back(findBand(film, limits.band_positions[i], limits));
  }
  const auto follow = [&](int band, bool percent, double most, Json& into, const std::string& what) {
    std::vector<std::optional<double>> values;
    for (const FoundPosition& one : found[band]) values.push_back(percent ? one.percent : one.position);
    const double listed = limits.band_positions[band];
    const std::optional<double> deviation = spreadOf(values);
    Json entry{{percent ? "band" : "listed", listed}};
    if (!deviation) {
      entry.update(Json{{"mean", nullptr}, {"standard_deviation", nullptr}, {"passed", false},
                        {"failure", "the band at " + cm(listed) + " was not found in every sample"}});
      passed = false;
      figures.history.push_back({(percent ? "%T spread at " : "position spread at ") + cm(listed), percent ? "%T" : "cm-1",
                                 std::nullopt, std::nullopt, most});
      into.push_back(entry);
      return;
    }
    const double sd = rounded(*deviation, kPercentDecimals);
    const bool within = sd <= most;
    if (!within) {
      fail(figures, kTest, "the " + what + " of the band at " + cm(listed) + " varies by " + fixed(sd, 4) + " (standard deviation "
                               "over " + counted(static_cast<std::int64_t>(films.size()), "sample") + "), more than " + numberText(most));
    }
    passed = passed && within;
    entry.update(Json{{"mean", rounded(meanOf(values), kPercentDecimals)}, {"standard_deviation", sd}, {"passed", within}});
    into.push_back(entry);
    figures.history.push_back({(percent ? "%T spread at " : "position spread at ") + cm(listed), percent ? "%T" : "cm-1", sd,
                               std::nullopt, most});
  };
  for (int i = 0; i < DORVANE_QUALIFY_BANDS; ++i) follow(i, false, limits.repeat_position_most, positions, "position");
  for (const double band : limits.repeat_bands) {
    const auto index = std::find(std::begin(limits.band_positions), std::end(limits.band_positions), band) - std::begin(limits.band_positions);
    if (index < DORVANE_QUALIFY_BANDS) follow(static_cast<int>(index), true, limits.repeat_percent_most, percents, "%T");
  }
  if (!passed && std::none_of(figures.failures.begin(), figures.failures.end(), [&](const std::string& f) { return f.starts_with(kTest); })) {
    fail(figures, kTest, "a band was not found in every sample, so its spread cannot be had");
  }
  figures.tests[std::string("repeatability")] = Json{{"passed", passed},
                                                     {"samples", static_cast<std::int64_t>(films.size())},
                                                     {"position_most", limits.repeat_position_most},
                                                     {"percent_most", limits.repeat_percent_most},
                                                     {"positions", positions},
                                                     {"percents", percents}};
}

}  // namespace

double rounded(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  char text[48];
  if (decimals < 0) {
    std::snprintf(text, sizeof text, "%.6g", value);
  } else {
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
  }
  return std::strtod(text, nullptr);
}

ProcessingOptions qualificationProcessing() {
  ProcessingOptions processing;
  processing.ratio = SpectrumKind::Transmittance;
  return processing;
}

nlohmann::ordered_json processingJson(const InterferogramRecord& first) {
  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  const ProcessingOptions processing = qualificationProcessing();
  return Json{{"apodization", processing.apodization},
              {"zero_fill", options.zero_fill},
              {"phase", processing.phase},
              {"phase_resolution", options.phase_resolution},
              {"laser_wavenumber", first.laserWavenumber.value_or(options.laser_wavenumber)},
              {"undersampling", first.undersampling.value_or(options.undersampling)}};
}

double nominalResolution(std::int32_t points, std::int32_t undersampling) {
  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  options.undersampling = undersampling;
  double resolution = std::numeric_limits<double>::infinity();
  dorvane_spectrum_nominal_resolution(points, points / 2, &options, &resolution);
  return resolution;
}

Figures computeFigures(const RawFiles& raw, const QualificationSettings& settings, const std::optional<Reference>& reference) {
  if (raw.backgrounds.size() != 2 || raw.samples.empty()) {
    throw HostFailure("a qualification takes two backgrounds and at least one sample; found " +
                      counted(static_cast<std::int64_t>(raw.backgrounds.size()), "background") + " and " +
                      counted(static_cast<std::int64_t>(raw.samples.size()), "sample"), kExitUsage);
  }
  const dorvane_qualify_limits& limits = settings.limits;
  Figures figures;
  figures.tests = Json::object();
  const Spectra spectra = makeSpectra(raw);
  const InterferogramRecord& first = raw.samples.front();
  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  options.undersampling = first.undersampling.value_or(options.undersampling);
  options.laser_wavenumber = first.laserWavenumber.value_or(options.laser_wavenumber);
  const std::optional<std::int32_t> zpd = zpdIndexOf(first.volts);
  figures.nominalResolution = std::numeric_limits<double>::infinity();
  dorvane_spectrum_nominal_resolution(static_cast<std::int32_t>(first.volts.size()), zpd.value_or(0), &options, &figures.nominalResolution);

  wavenumberAccuracy(spectra.films.front(), limits, figures);
  resolution(spectra.films.front(), limits, figures.nominalResolution, figures);
  hundredPercentLine(spectra.line, limits, options.zero_fill, figures);
  energy(spectra.singleBeam, raw.backgrounds.front(), limits, reference, figures);
  repeatability(spectra.films, limits, figures);

  figures.film = curveOf(spectra.films.front());
  figures.line = curveOf(spectra.line);
  for (std::size_t i = 0; i < spectra.films.size(); ++i) {
    figures.spectra.push_back({spectrumStem(raw.sampleNames[i], SpectrumKind::Transmittance), spectra.films[i]});
  }
  figures.spectra.push_back({"hundred-percent-line", spectra.line});
  figures.spectra.push_back({spectrumStem(raw.backgroundNames[0], SpectrumKind::SingleBeam), spectra.singleBeam});
  return figures;
}

}  // namespace dorvane::host::qualification
