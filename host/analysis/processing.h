// Spectra from interferograms through the spectra library's C interface (dorvane_spectra.h), as any
// host would use it: the `spectrum` subcommand, and the spectra that acquire --spectrum and the demo
// save beside their interferograms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dorvane_spectra.h"
#include "host/files/spectrum_files.h"
#include "host/files/output_folder.h"

namespace dorvane::host {

struct WavenumberRange {
  double low, high;  // cm-1, low < high
};

// How interferograms become spectra; unset fields take the library's defaults or the file's values.
struct ProcessingOptions {
  std::string apodization = "blackman-harris-3";  // one of apodizationNames()
  std::optional<std::int32_t> zeroFill;           // 1, 2, 4 or 8
  std::string phase = "mertz";                    // or "power"
  std::optional<double> phaseResolution;          // cm-1, Mertz only
  std::optional<double> laserWavenumber;          // overrides the file's
  std::optional<std::int32_t> undersampling;      // overrides the file's
  std::optional<WavenumberRange> range;           // what is written and drawn
  SpectrumKind ratio = SpectrumKind::Absorbance;  // against a background
};

std::vector<std::string> apodizationNames();
// "LO:HI" in cm-1 with 0 <= LO < HI; none for anything else.
std::optional<WavenumberRange> rangeOf(std::string_view text);
// The same for --range; throws HostFailure (bad options) for anything else.
WavenumberRange parseRange(const std::string& text);

// Reads an interferogram file for processing; `role` is "" or e.g. "the background ". A file that
// names no sampling gets a notice on stderr saying what processing takes instead. Throws
// HostFailure: "ROLE PATH: what is wrong".
InterferogramRecord readForSpectrum(const std::string& path, const std::string& role, const ProcessingOptions& options);

// "x-absorbance" for x.jdx: a spectrum's files are named after its interferogram's.
std::string spectrumStem(const std::string& interferogramPath, SpectrumKind kind);

class SpectrumMaker {
 public:
  // Throws HostFailure for options the library refuses.
  explicit SpectrumMaker(const ProcessingOptions& options);

  // Spectra made after this are ratios against this interferogram's single beam; `name` is its
  // file's. Throws HostFailure: "the background NAME: what is wrong".
  void setBackground(const InterferogramRecord& background, const std::string& name);

  // The single beam of `interferogram`, or its ratio against the background; `name` is its file's
  // (the files record its name alone). Cut to the range. Throws HostFailure: "NAME: what is wrong".
  SpectrumRecord make(const InterferogramRecord& interferogram, const std::string& name) const;
  // What make gives: the single beam, or with a background the ratio the options ask for.
  SpectrumKind kind() const { return background_ ? options_.ratio : SpectrumKind::SingleBeam; }

 private:
  struct SingleBeam {
    std::vector<double> values;
    dorvane_spectrum_info info{};
    dorvane_spectrum_options options{};
  };
  SingleBeam singleBeam(const InterferogramRecord& interferogram, const std::string& name) const;

  ProcessingOptions options_;
  dorvane_spectrum_options base_{};
  std::optional<SingleBeam> background_;
  std::string backgroundName_;
};

// A band of a spectrum: its position (cm-1) and the spectrum's value there.
struct FoundBand {
  double position, height;
};
// The bands of a spectrum between low and high cm-1 (dorvane_spectrum_find_bands), highest
// wavenumber first: the maxima of an absorbance (or a single beam) that reach minHeight and stand
// out from their surroundings by minProminence. A transmittance's bands are those of its absorbance
// (-log10 T), with the same thresholds, so both list the same bands; their heights are transmittances.
std::vector<FoundBand> findBandPeaks(const SpectrumRecord& spectrum, double low, double high, double minHeight,
                                     double minProminence);
// Their positions alone.
std::vector<double> findBands(const SpectrumRecord& spectrum, double low, double high, double minHeight,
                              double minProminence);

// Saves <folder>/<stem>.csv, .jdx and (with `plot`) .png as one set, whole or not at all
// (saveSpectrumSet). Throws HostFailure with the line of the failure.
class SpectrumSaver {
 public:
  SpectrumSaver(Existing existing, bool plot) : existing_(existing), plot_(plot) {}
  SavedFiles save(const SpectrumRecord& spectrum, const std::string& folder, const std::string& stem);

 private:
  Existing existing_;
  bool plot_;
  bool plotterMissingTold_ = false;
};

}  // namespace dorvane::host
