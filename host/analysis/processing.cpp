// Spectra made through dorvane_spectra.h: options into the library's record, single beams, ratios
// against a background, the range cut, the parameters recorded in the files, and the spectrum command.
#include "host/analysis/processing.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>

#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/files/interferogram_reader.h"
#include "host/files/plot.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

namespace fs = std::filesystem;

struct Apodization {
  const char* name;
  std::int32_t code;
};
constexpr Apodization kApodizations[] = {
    {"boxcar", DORVANE_APODIZATION_BOXCAR},
    {"triangular", DORVANE_APODIZATION_TRIANGULAR},
    {"happ-genzel", DORVANE_APODIZATION_HAPP_GENZEL},
    {"blackman-harris-3", DORVANE_APODIZATION_BLACKMAN_HARRIS_3},
    {"blackman-harris-4", DORVANE_APODIZATION_BLACKMAN_HARRIS_4},
    {"norton-beer-weak", DORVANE_APODIZATION_NORTON_BEER_WEAK},
    {"norton-beer-medium", DORVANE_APODIZATION_NORTON_BEER_MEDIUM},
    {"norton-beer-strong", DORVANE_APODIZATION_NORTON_BEER_STRONG},
};

std::string libraryFailure(const std::string& name, std::int32_t result) {
  return name + ": " + dorvane_spectra_error_text(result);
}

std::string axisText(const dorvane_spectrum_axis& axis) {
  return std::to_string(axis.points) + " points " + numberText(axis.wavenumber_step) + " cm-1 apart";
}

// One line for an interferogram that names no sampling: the values processing takes instead. Empty
// when the file names both or the options set them.
std::string samplingNotice(const InterferogramRecord& record, const ProcessingOptions& options, const std::string& name) {
  dorvane_spectrum_options defaults;
  dorvane_spectrum_default_options(&defaults);
  std::string missing, taken;
  if (!record.laserWavenumber && !options.laserWavenumber) {
    missing = "laser wavenumber";
    taken = numberText(defaults.laser_wavenumber) + " cm-1";
  }
  if (!record.undersampling && !options.undersampling) {
    missing += std::string(missing.empty() ? "" : " or ") + "undersampling ratio";
    taken += std::string(taken.empty() ? "" : " and ") + std::to_string(defaults.undersampling);
  }
  if (missing.empty()) return {};
  return name + " names no " + missing + ": taking " + taken + " (--laser-wavenumber and --undersampling set them)";
}

}  // namespace

std::vector<std::string> apodizationNames() {
  std::vector<std::string> names;
  for (const Apodization& apodization : kApodizations) names.emplace_back(apodization.name);
  return names;
}

std::optional<WavenumberRange> rangeOf(std::string_view text) {
  const std::size_t colon = text.find(':');
  const auto number = [&text](std::size_t from, std::size_t to, double& value) {
    const std::string piece(text.substr(from, to - from));
    std::size_t used = 0;
    try {
      value = std::stod(piece, &used);
    } catch (const std::exception&) {
      return false;
    }
    return used == piece.size() && std::isfinite(value);
  };
  WavenumberRange range{};
  if (colon == std::string_view::npos || !number(0, colon, range.low) || !number(colon + 1, text.size(), range.high) ||
      range.low < 0 || range.low >= range.high) {
    return std::nullopt;
  }
  return range;
}

WavenumberRange parseRange(const std::string& text) {
  const std::optional<WavenumberRange> range = rangeOf(text);
  if (!range) {
    throw HostFailure("--range " + printableAscii(text) + ": give it as LO:HI in cm-1, 0 <= LO < HI, e.g. 400:4000",
                      kExitUsage);
  }
  return *range;
}

std::string spectrumStem(const std::string& interferogramPath, SpectrumKind kind) {
  std::string stem = fs::path(interferogramPath).stem().string() + "-" + spectrumKindName(kind);
  std::replace(stem.begin(), stem.end(), ' ', '-');
  return stem;
}

InterferogramRecord readForSpectrum(const std::string& path, const std::string& role, const ProcessingOptions& options) {
  InterferogramReading reading = readInterferogramFile(path);
  if (!reading.failure.empty()) throw HostFailure(role + shownPath(path) + ": " + reading.failure);
  if (const std::string notice = samplingNotice(reading.record, options, role + shownPath(path)); !notice.empty()) {
    std::cerr << "dorvane: " << notice << std::endl;
  }
  return std::move(reading.record);
}

SpectrumMaker::SpectrumMaker(const ProcessingOptions& options) : options_(options) {
  dorvane_spectrum_default_options(&base_);
  bool known = false;
  for (const Apodization& apodization : kApodizations) {
    if (options.apodization == apodization.name) {
      base_.apodization = apodization.code;
      known = true;
    }
  }
  if (!known) throw HostFailure("--apodization " + printableAscii(options.apodization) + " is not one dorvane knows", kExitUsage);
  if (options.phase != "mertz" && options.phase != "power") {
    throw HostFailure("--phase " + printableAscii(options.phase) + ": mertz or power", kExitUsage);
  }
  base_.phase = options.phase == "mertz" ? DORVANE_PHASE_MERTZ : DORVANE_PHASE_POWER;
  if (options.zeroFill) base_.zero_fill = *options.zeroFill;
  if (options.phaseResolution) base_.phase_resolution = *options.phaseResolution;
  if (options.laserWavenumber) base_.laser_wavenumber = *options.laserWavenumber;
  if (options.undersampling) base_.undersampling = *options.undersampling;
  dorvane_spectrum_axis axis;
  // Two points are enough for the library to judge the options.
  if (const std::int32_t result = dorvane_spectrum_axis_for(2, &base_, &axis); result != DORVANE_SPECTRA_OK) {
    throw HostFailure(std::string("the processing options: ") + dorvane_spectra_error_text(result), kExitUsage);
  }
}

SpectrumMaker::SingleBeam SpectrumMaker::singleBeam(const InterferogramRecord& interferogram, const std::string& name) const {
  SingleBeam beam;
  beam.options = base_;
  if (!options_.laserWavenumber && interferogram.laserWavenumber) beam.options.laser_wavenumber = *interferogram.laserWavenumber;
  if (!options_.undersampling && interferogram.undersampling) beam.options.undersampling = *interferogram.undersampling;
  if (interferogram.volts.size() > static_cast<std::size_t>(INT32_MAX)) {
    throw HostFailure(libraryFailure(name, DORVANE_SPECTRA_ERROR_TOO_MANY_POINTS));
  }
  const auto points = static_cast<std::int32_t>(interferogram.volts.size());
  dorvane_spectrum_axis axis;
  if (const std::int32_t result = dorvane_spectrum_axis_for(points, &beam.options, &axis); result != DORVANE_SPECTRA_OK) {
    throw HostFailure(libraryFailure(name, result));
  }
  beam.values.resize(static_cast<std::size_t>(axis.points));
  const std::int32_t result = dorvane_spectrum_process(interferogram.volts.data(), points, &beam.options, beam.values.data(),
                                                       axis.points, &beam.info);
  if (result != DORVANE_SPECTRA_OK) throw HostFailure(libraryFailure(name, result));
  return beam;
}

void SpectrumMaker::setBackground(const InterferogramRecord& background, const std::string& name) {
  background_ = singleBeam(background, "the background " + name);
  backgroundName_ = fileName(name);
}

SpectrumRecord SpectrumMaker::make(const InterferogramRecord& interferogram, const std::string& name) const {
  SingleBeam beam = singleBeam(interferogram, name);
  const std::string source = fileName(name);
  SpectrumRecord spectrum;
  spectrum.kind = kind();
  spectrum.title = std::string(spectrumKindName(spectrum.kind)) + " of " + source;
  if (background_) {
    spectrum.title += " against " + backgroundName_;
    const std::int32_t kind = spectrum.kind == SpectrumKind::Transmittance ? DORVANE_RATIO_TRANSMITTANCE : DORVANE_RATIO_ABSORBANCE;
    std::vector<double> ratio(beam.values.size());
    const std::int32_t result = dorvane_spectrum_ratio(beam.values.data(), &beam.info.axis, background_->values.data(),
                                                       &background_->info.axis, kind, ratio.data(),
                                                       static_cast<std::int32_t>(ratio.size()));
    if (result == DORVANE_SPECTRA_ERROR_AXIS_MISMATCH) {
      throw HostFailure(name + ": its spectrum (" + axisText(beam.info.axis) + ") and the background " + backgroundName_ +
                        "'s (" + axisText(background_->info.axis) +
                        ") lie on different wavenumber axes: take both with the same points, lasersamp and processing");
    }
    if (result != DORVANE_SPECTRA_OK) throw HostFailure(libraryFailure(name, result));
    beam.values = std::move(ratio);
  }

  const dorvane_spectrum_axis& axis = beam.info.axis;
  for (std::size_t k = 0; k < beam.values.size(); ++k) {
    const double wavenumber = axis.first_wavenumber + static_cast<double>(k) * axis.wavenumber_step;
    if (options_.range && (wavenumber < options_.range->low || wavenumber > options_.range->high)) continue;
    spectrum.wavenumbers.push_back(wavenumber);
    spectrum.values.push_back(beam.values[k]);
  }
  if (spectrum.values.empty()) {
    throw HostFailure(name + ": no point of its spectrum lies in --range " + numberText(options_.range->low) + ":" +
                      numberText(options_.range->high) + " (it spans 0 to " +
                      numberText(static_cast<double>(axis.points - 1) * axis.wavenumber_step) + " cm-1)");
  }

  const dorvane_spectrum_options& used = beam.options;
  std::string undersamplingNote = kUndersamplingNote;
  if (options_.undersampling) {
    undersamplingNote = "set with --undersampling";
  } else if (!interferogram.undersampling) {
    undersamplingNote = "the default: the file names none";
  }
  std::vector<FileParameter>& parameters = spectrum.parameters;
  parameters.push_back({"source", source, "", ""});
  if (background_) parameters.push_back({"background", backgroundName_, "", ""});
  parameters.push_back({"laser wavenumber", numberText(used.laser_wavenumber), "cm-1", ""});
  parameters.push_back({"undersampling", std::to_string(used.undersampling), "", undersamplingNote});
  parameters.push_back({"interferogram points", std::to_string(interferogram.volts.size()), "", ""});
  parameters.push_back({"zpd index", std::to_string(beam.info.zpd_index), "", ""});
  parameters.push_back({"apodization", options_.apodization, "", ""});
  parameters.push_back({"zero fill", std::to_string(used.zero_fill), "", ""});
  parameters.push_back({"phase correction", options_.phase, "", ""});
  if (used.phase == DORVANE_PHASE_MERTZ) {
    parameters.push_back({"phase resolution", numberText(used.phase_resolution), "cm-1", ""});
    parameters.push_back({"phase points", std::to_string(beam.info.phase_points), "", ""});
  }
  parameters.push_back({"transform points", std::to_string(beam.info.transform_points), "", ""});
  parameters.push_back({"wavenumber step", numberText(axis.wavenumber_step), "cm-1", ""});
  if (options_.range) {
    parameters.push_back({"range", numberText(options_.range->low) + ":" + numberText(options_.range->high), "cm-1", ""});
  }
  return spectrum;
}

std::vector<FoundBand> findBandPeaks(const SpectrumRecord& spectrum, double low, double high, double minHeight,
                                     double minProminence) {
  const std::size_t points = spectrum.values.size();
  if (points < 2 || points > static_cast<std::size_t>(INT32_MAX)) return {};
  // A transmittance's bands are its dips: the library finds maxima, so it is given the absorbance, where
  // the thresholds mean what they mean for an absorbance (a point of no transmittance is missing).
  const bool dips = spectrum.kind == SpectrumKind::Transmittance;
  std::vector<double> values = spectrum.values;
  if (dips) std::transform(values.begin(), values.end(), values.begin(), [](double t) { return t > 0 ? -std::log10(t) : NAN; });
  // The record holds an equally spaced stretch of the axis.
  const dorvane_spectrum_axis axis{spectrum.wavenumbers.front(),
                                   (spectrum.wavenumbers.back() - spectrum.wavenumbers.front()) / static_cast<double>(points - 1),
                                   static_cast<std::int32_t>(points)};
  std::int32_t count = 0;
  if (dorvane_spectrum_find_bands(values.data(), &axis, low, high, minHeight, minProminence, nullptr, nullptr, 0, &count) !=
          DORVANE_SPECTRA_OK ||
      count <= 0) {
    return {};
  }
  std::vector<double> positions(static_cast<std::size_t>(count)), heights(static_cast<std::size_t>(count));
  if (dorvane_spectrum_find_bands(values.data(), &axis, low, high, minHeight, minProminence, positions.data(),
                                  heights.data(), count, &count) != DORVANE_SPECTRA_OK) {
    return {};
  }
  std::vector<FoundBand> bands;
  for (std::size_t i = 0; i < std::min(positions.size(), static_cast<std::size_t>(count)); ++i) {
    bands.push_back({positions[i], dips ? std::pow(10.0, -heights[i]) : heights[i]});
  }
  return bands;
}

std::vector<double> findBands(const SpectrumRecord& spectrum, double low, double high, double minHeight, double minProminence) {
  std::vector<double> positions;
  for (const FoundBand& band : findBandPeaks(spectrum, low, high, minHeight, minProminence)) positions.push_back(band.position);
  return positions;
}

SavedFiles SpectrumSaver::save(const SpectrumRecord& spectrum, const std::string& folder, const std::string& stem) {
  return keptSet(saveSpectrumSet(spectrum, (fs::path(folder) / stem).string(), plot_, existing_), plotterMissingTold_);
}

}  // namespace dorvane::host
