// The live view's place in the host's commands: serving, holding the page after the run, and
// `dorvane view`.
#include "host/live/live_view.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>
#include <system_error>

#include "host/analysis/tracking.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/files/formats.h"
#include "host/files/interferogram_reader.h"
#include "host/live/live_assets.h"
#include "host/text/text.h"

namespace dorvane::host::live {
namespace {

namespace fs = std::filesystem;

// How often `dorvane view` looks for files added to its folder.
constexpr int kFolderLookMs = 2000;
// What the pages get to take the last state before the program ends.
constexpr int kLastStateMs = 1000;

// The names the view answers to; the machine's own names only off loopback, where the network may
// use them.
HostNames servedNames(const std::string& bind) {
  return hostNamesFor(bind, loopbackAddress(bind) ? std::vector<std::string>{} : machineNames());
}

// Blocks until there have been more stop requests than `stopsBefore`.
void waitForStopRequest(int stopsBefore) {
  CompletionEvent nothing;  // never signalled: only the stop request wakes it
  const int stops = stopsBefore + 1;
  while (nothing.wait(60 * 1000, stops) != CompletionEvent::Wake::StopRequested) {
  }
}

}  // namespace

LiveView::LiveView(LiveRun& run, const LiveViewOptions& options)
    : run_(run),
      server_(options.bind, options.port.value_or(kDefaultLivePort), servedNames(options.bind), run, liveAssets()) {
  if (!loopbackAddress(options.bind)) {
    const std::string who = options.bind == "0.0.0.0" || options.bind == "::"
                                ? "anyone who can reach this machine on any of its networks"
                                : "anyone who can reach " + options.bind;
    std::cerr << "dorvane: the live view is not on loopback: " << who << " can watch the run at port "
              << server_.port()
              << " (no password; guarding it against DNS rebinding and anyone on the network is then yours; leave out "
                 "--live-bind to keep it on this machine)"
              << std::endl;
  }
  run_.attach(&server_);
  std::cout << "live view (open it in a browser):\n" << server_.url() << std::endl;
}

LiveView::~LiveView() { run_.attach(nullptr); }

void LiveView::holdUntilStopped(int stopsDuringRun) {
  // Kept to the end: the notice is shown on its own thread, after the wait below has returned.
  setStopNotice([](int) { return std::string("closing the live view"); });
  server_.drain(kLastStateMs);
  std::cout << "the run is over; the live view stays at " << server_.url() << " until Ctrl-C" << std::endl;
  waitForStopRequest(stopsDuringRun);
}

LiveSession::LiveSession(const LiveViewOptions& options, const std::string& folder, const ProcessingOptions& processing) {
  if (!options.port) return;
  run_.emplace(LiveRun::Mode::Acquire, folder, processing);
  view_.emplace(*run_, options);
}

int LiveSession::perform(const std::function<void()>& work) {
  if (!view_) {
    work();
    return 0;
  }
  int status = 0;
  // Counted as the run ends, so a Ctrl-C from then on (while the pages take the last state, or
  // before the line that says the view stays) ends the view rather than being lost.
  int stopsDuringRun = 0;
  try {
    work();
    stopsDuringRun = stopRequestCount();
    run_->ended("", false);
  } catch (const HostFailure& failure) {
    stopsDuringRun = stopRequestCount();
    std::cerr << "dorvane: " << failure.what() << std::endl;
    run_->ended(failure.what(), stopRequested());
    status = failure.exitStatus();
  }
  view_->holdUntilStopped(stopsDuringRun);
  return status;
}

int runViewCommand(const ViewCommand& command) {
  std::error_code error;
  if (!fs::is_directory(command.folder, error)) {
    throw HostFailure(shownPath(command.folder) + " is not a folder: give the folder the files were saved in", kExitUsage);
  }
  LiveRun run(LiveRun::Mode::View, command.folder, command.processing);
  run.track(parseTracks(command.tracks));
  if (!command.background.empty()) {
    run.setBackground(readForSpectrum(command.background, "the background ", command.processing),
                      command.background);
  }
  // The interferograms among the folder's JCAMP-DX files, in the order of their names; spectra and
  // other files are passed over.
  std::set<std::string> seen;
  std::int32_t shown = 0, benchIdentity = 0;
  const auto look = [&] {
    std::vector<std::string> added;
    for (const fs::directory_entry& entry : fs::directory_iterator(command.folder, error)) {
      const std::string path = entry.path().string();
      if (entry.path().extension() == kRecordExtension && !seen.count(path)) added.push_back(path);
    }
    std::sort(added.begin(), added.end());
    for (const std::string& path : added) {
      seen.insert(path);
      const InterferogramReading reading = readInterferogramFile(path);
      if (!reading.failure.empty()) continue;
      if (!benchIdentity) benchIdentity = reading.record.benchIdentity;
      run.listed(++shown, recordTimeText(reading.record), path, savedSiblings(path), &reading.record);
    }
    if (!added.empty()) run.viewing(benchIdentity);
  };
  look();
  run.viewing(benchIdentity);
  LiveView view(run, command.live);
  std::cout << "showing " << counted(shown, "interferogram") << " of " << shownPath(command.folder)
            << ", and those saved there later, until Ctrl-C" << std::endl;
  setStopNotice([](int) { return std::string("closing the live view"); });
  CompletionEvent nothing;
  while (nothing.wait(kFolderLookMs) != CompletionEvent::Wake::StopRequested) look();
  // Only a stop request ends the view: its status tells a shell which (130 for Ctrl-C).
  return stopCause().exitStatus;
}

}  // namespace dorvane::host::live
