// The live view as the host's commands use it: the server started for a run with its URL printed,
// the run kept on view after it ends until Ctrl-C, and `dorvane view` over files already saved.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/live/live_run.h"
#include "host/live/live_server.h"

namespace dorvane::host::live {

inline constexpr std::uint16_t kDefaultLivePort = 8765;

struct LiveViewOptions {
  std::optional<std::uint16_t> port;  // none: no live view; 0: any free port
  std::string bind = "127.0.0.1";     // anything but loopback is said on stderr
};

class LiveView {
 public:
  // Serves `run` and prints the URL on a line of its own. Throws HostFailure when the address cannot
  // be served.
  LiveView(LiveRun& run, const LiveViewOptions& options);
  ~LiveView();
  LiveView(const LiveView&) = delete;
  LiveView& operator=(const LiveView&) = delete;

  // The run is over: its last state reaches the pages, and they stay served until a Ctrl-C beyond
  // the `stopsDuringRun` stop requests counted as the run ended.
  void holdUntilStopped(int stopsDuringRun);

 private:
  LiveRun& run_;
  LiveServer server_;
};

// A run on view when the options name a port (--live), or no run at all: what the acquire and demo
// commands share.
class LiveSession {
 public:
  // With a port: the run, served, its URL printed. Throws HostFailure when the address cannot be
  // served, or for processing options the spectra library refuses.
  LiveSession(const LiveViewOptions& options, const std::string& folder, const ProcessingOptions& processing);

  // Null without a view.
  LiveRun* run() { return run_ ? &*run_ : nullptr; }

  // Runs `work` (an acquisition, the demo). Without a view it is run as it is and failures
  // propagate. With the view a failure is said on stderr and shown on the page, which stays until
  // Ctrl-C; returns the exit status (0 when `work` succeeded).
  int perform(const std::function<void()>& work);

 private:
  std::optional<LiveRun> run_;
  std::optional<LiveView> view_;
};

struct ViewCommand {
  std::string folder;
  ProcessingOptions processing;
  std::string background;  // empty: single-beam spectra
  std::vector<std::string> tracks;  // NAME=LO:HI, measured in each file's spectrum as it is listed
  LiveViewOptions live;
};
// dorvane view: serves the interferograms saved in the folder, and those added to it later, until
// Ctrl-C. Returns the exit status of that stop (130 for Ctrl-C, 143 for SIGTERM).
int runViewCommand(const ViewCommand& command);

}  // namespace dorvane::host::live
