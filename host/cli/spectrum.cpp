// dorvane spectrum: interferogram files turned into spectra, saved beside them or in a folder.
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "host/acquisition/spectrum.h"
#include "host/cli/options.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

namespace fs = std::filesystem;

struct SpectrumCommand {
  std::vector<std::string> files;
  std::string background;  // empty: single-beam spectra
  ProcessingText processing;
  std::string folder;  // empty: beside each file
  bool overwrite = false;
  bool noPlot = false;
};

// Each file that cannot be read or processed gets one line on stderr and nothing written; the
// others are saved. Returns the exit status.
int runSpectrumCommand(const SpectrumCommand& command) {
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

}  // namespace

void addSpectrumCommand(CommandLine& line) {
  auto spectrum = std::make_shared<SpectrumCommand>();
  CLI::App* command = line.app.add_subcommand(
      "spectrum", "turn interferogram files (dorvane's CSV or JCAMP-DX) into spectra: single beam, or with "
                  "--background absorbance (--ratio transmittance for transmittance)");
  command->add_option("FILE", spectrum->files, "the interferogram files")->required();
  command->add_option("--background", spectrum->background, "an interferogram of the open beam to ratio against");
  addProcessingOptions(command, spectrum->processing);
  command->add_option("--laser-wavenumber", spectrum->processing.processing.laserWavenumber,
                      "the reference laser's wavenumber, cm-1 (default: the file's, else 15798)")
      ->check(CLI::PositiveNumber);
  command->add_option("--undersampling", spectrum->processing.processing.undersampling,
                      "the undersampling ratio: 1, 2, 4 or 8 (default: the file's, else 2)")
      ->check(CLI::IsMember({1, 2, 4, 8}));
  command->add_option("--out", spectrum->folder, "the folder for the spectra (default: beside each file)");
  command->add_flag("--overwrite", spectrum->overwrite, "replace spectrum files that exist");
  command->add_flag("--no-plot", spectrum->noPlot, "save CSV and JCAMP-DX only, no PNG");
  line.add(command, [spectrum] { return runSpectrumCommand(*spectrum); });
}

}  // namespace dorvane::host::cli
