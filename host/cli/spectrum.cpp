// dorvane spectrum: interferogram files turned into spectra, saved beside them or in a folder.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "host/acquisition/spectrum.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

namespace fs = std::filesystem;

}  // namespace

int runSpectrumCommand(SpectrumCommand& command) {
  const ProcessingOptions processing = command.processing.resolved();
  SpectrumMaker maker(processing);
  if (!command.background.empty()) {
    maker.setBackground(readForSpectrum(command.background, "the background ", processing), shownPath(command.background));
  }
  if (!command.folder.empty()) {
    std::error_code error;
    fs::create_directories(command.folder, error);
    if (error) throw HostFailure("cannot create the output folder " + shownPath(command.folder) + ": " + error.message());
  }
  SpectrumSaver saver(command.overwrite ? Existing::Replace : Existing::Keep, !command.noPlot);
  int failures = 0;
  for (const std::string& path : command.files) {
    // Each file is saved whole before Ctrl-C is heeded.
    if (stopRequested()) throw stoppedBy(" before " + shownPath(path));
    try {
      const SpectrumRecord spectrum = maker.make(readForSpectrum(path, "", processing), shownPath(path));
      const std::string folder = command.folder.empty() ? fs::path(path).parent_path().string() : command.folder;
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
