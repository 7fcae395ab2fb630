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

int runAcquire(AcquireArguments& arguments) {
  AcquireOptions& acquisition = arguments.acquisition;
  acquisition.settings = loadSettings(arguments.ini);
  acquisition.folder = arguments.output.folder;
  acquisition.plot = !arguments.output.noPlot;
  acquisition.overwrite = arguments.output.overwrite;
  acquisition.notes = arguments.output.notes;
  if (acquisition.prefix.empty()) acquisition.prefix = timedPrefix();
  const ProcessingOptions processing = arguments.processing.resolved();
  acquisition.tracks = parseTracks(arguments.tracks);
  checkTracksWithin(acquisition.tracks, spectrumAxisFor(processing, defaultLaserWavenumber(),
                                                        undersamplingOf(acquisition.settings.lasersamp)));
  std::optional<InterferogramRecord> background;
  if (!arguments.background.empty()) background = readForSpectrum(arguments.background, "the background ", processing);
  // One maker for the files and the live view: each spectrum, and the background's, made once.
  acquisition.saveSpectra = arguments.spectrum || background;
  std::shared_ptr<SpectrumMaker> maker;
  if (acquisition.saveSpectra || arguments.live.port || !acquisition.tracks.empty()) {
    maker = std::make_shared<SpectrumMaker>(processing);
    if (background) maker->setBackground(*background, shownPath(arguments.background));
    acquisition.spectra = maker;
  }
  live::LiveSession live(arguments.live, acquisition.folder, processing);
  if (live::LiveRun* run = live.run()) {
    if (background) run->setBackground(maker, arguments.background);
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
