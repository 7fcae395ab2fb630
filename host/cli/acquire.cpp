// dorvane acquire: files co-added on the driver's thread, each saved as it comes, with its spectrum
// when asked and on the live view with --live.
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "host/acquisition/acquire.h"
#include "host/analysis/tracking.h"
#include "host/instrument/session.h"
#include "host/cli/commands.h"
#include "host/live/live_view.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

// "interferogram-20261207-105326": each acquisition names its files after the moment it began.
std::string timedPrefix() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nowMs = static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  return utcTimeText("interferogram-%Y%m%d-%H%M%S", nowMs);
}

}  // namespace

int runAcquire(AcquireArguments& command) {
  AcquireOptions& acquisition = command.acquisition;
  acquisition.settings = loadSettings(command.ini);
  acquisition.folder = command.output.folder;
  acquisition.plot = !command.output.noPlot;
  acquisition.overwrite = command.output.overwrite;
  acquisition.notes = command.output.notes;
  if (acquisition.prefix.empty()) acquisition.prefix = timedPrefix();
  const ProcessingOptions processing = command.processing.resolved();
  acquisition.tracks = parseTracks(command.tracks);
  checkTracksWithin(acquisition.tracks, spectrumAxisFor(processing, defaultLaserWavenumber(),
                                                        undersamplingOf(acquisition.settings.lasersamp)));
  std::optional<InterferogramRecord> background;
  if (!command.background.empty()) background = readForSpectrum(command.background, "the background ", processing);
  // One maker for the files and the live view: each spectrum, and the background's, made once.
  acquisition.saveSpectra = command.spectrum || background;
  std::shared_ptr<SpectrumMaker> maker;
  if (acquisition.saveSpectra || command.live.port || !acquisition.tracks.empty()) {
    maker = std::make_shared<SpectrumMaker>(processing);
    if (background) maker->setBackground(*background, shownPath(command.background));
    acquisition.spectra = maker;
  }
  live::LiveSession live(command.live, acquisition.folder, processing);
  if (live::LiveRun* run = live.run()) {
    if (background) run->setBackground(maker, command.background);
    run->track(acquisition.tracks);
    acquisition.observer = run;
  }
  const int status = live.perform([&] {
    const std::int32_t saved = acquire(acquisition);
    std::cout << counted(saved, "file") << " saved in " << acquisition.folder << std::endl;
  });
  // After the live view, a Ctrl-C was what ended it; without, one that came late still counts.
  return live.run() ? status : afterBenchCalls(status);
}

}  // namespace dorvane::host::cli
