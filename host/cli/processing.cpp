// dorvane spectrum: interferogram files turned into spectra, saved beside them or in a folder, and
// with --bands each one's bands listed.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "host/analysis/processing.h"
#include "host/files/file_text.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

namespace fs = std::filesystem;

// The bands of `spectrum` as the command's options ask, marked on its picture and listed a line each.
void findAndList(SpectrumRecord& spectrum, const SpectrumArguments& arguments, const WavenumberRange& range,
                 const std::string& path) {
  const bool dips = spectrum.kind == SpectrumKind::Transmittance;
  const double height = arguments.bandHeight.value_or(-INFINITY);
  const std::vector<FoundBand> bands = findBandPeaks(spectrum, range.low, range.high, height, arguments.bandProminence);
  for (const FoundBand& band : bands) spectrum.bands.push_back(band.position);
  const std::string kind = spectrumKindName(spectrum.kind);
  if (bands.empty()) {
    std::cout << shownPath(path) << ": no band in its " << kind << " from " << numberText(range.low) << " to "
              << numberText(range.high) << " cm-1 stands out by " << numberText(arguments.bandProminence) << std::endl;
    return;
  }
  std::cout << shownPath(path) << ": " << counted(static_cast<std::int64_t>(bands.size()), "band") << " in its " << kind
            << (dips ? " (its minima)" : "") << ", position in cm-1 and " << kind << ":" << std::endl;
  for (const FoundBand& band : bands) {
    char line[64];
    std::snprintf(line, sizeof line, "  %9.2f  %.4f\n", band.position, band.height);
    std::cout << line;
  }
  std::cout.flush();
}

}  // namespace

int runSpectrum(SpectrumArguments& arguments) {
  const ProcessingOptions processing = arguments.processing.resolved();
  if (arguments.bands && arguments.background.empty()) {
    throw HostFailure("--bands: a single-beam spectrum has no bands to list (its shape is the source's and the "
                      "detector's); give --background FILE for absorbance (or --ratio transmittance)",
                      kExitUsage);
  }
  const std::optional<WavenumberRange> bandRange = rangeOf(arguments.bandRange);
  if (!bandRange) {
    throw HostFailure("--band-range " + printableAscii(arguments.bandRange) + ": give it as LO:HI in cm-1, 0 <= LO < HI, e.g. 600:4000",
                      kExitUsage);
  }
  SpectrumMaker maker(processing);
  if (!arguments.background.empty()) {
    maker.setBackground(readForSpectrum(arguments.background, "the background ", processing), shownPath(arguments.background));
  }
  if (!arguments.folder.empty()) {
    std::error_code error;
    fs::create_directories(arguments.folder, error);
    if (error) throw HostFailure("cannot create the output folder " + shownPath(arguments.folder) + ": " + error.message());
  }
  SpectrumSaver saver(arguments.overwrite ? Existing::Replace : Existing::Keep, !arguments.noPlot);
  int failures = 0;
  for (const std::string& path : arguments.files) {
    // Each file is saved whole before Ctrl-C is heeded.
    if (stopRequested()) throw stoppedBy(" before " + shownPath(path));
    try {
      SpectrumRecord spectrum = maker.make(readForSpectrum(path, "", processing), shownPath(path));
      if (arguments.bands) findAndList(spectrum, arguments, *bandRange, path);
      const std::string folder = arguments.folder.empty() ? fs::path(path).parent_path().string() : arguments.folder;
      const SavedFiles saved = saver.save(spectrum, folder, spectrumStem(path, spectrum.kind));
      std::cout << shownPath(path) << ": " << spectrumKindName(spectrum.kind) << " saved: " << saved.csv() << ", "
                << fileName(saved.jcamp()) << (saved.png().empty() ? "" : ", " + fileName(saved.png())) << std::endl;
    } catch (const HostFailure& failure) {
      std::cerr << "dorvane: " << failure.what() << std::endl;
      ++failures;
    }
  }
  return failures == 0 ? 0 : kExitFailure;
}


}  // namespace dorvane::host::cli
