// The acquisition's progress on stdout: on a terminal a line redrawn in place with the phase, the
// file and the rate; elsewhere only the lines printed between, one per event.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "host/acquisition/timing.h"
#include "platform/mutex.h"

namespace dorvane::host {

// "file 2 of 3", or "file 2" of an acquisition that runs until Ctrl-C.
std::string fileTitle(std::int32_t number, std::int32_t files);

// What the host knows of the file under way, shared with the line shown at a Ctrl-C, which comes on
// another thread.
struct FilePhase {
  std::atomic<bool> transferring{false};
  std::atomic<double> transferStartedAt{0};  // seconds on `origin`'s clock
  std::atomic<double> transferSeconds{0};    // the estimate
  Clock::time_point origin = Clock::now();

  double now() const { return secondsSince(origin); }
  double transferLeft() const { return std::max(0.0, transferSeconds - (now() - transferStartedAt)); }
};

// Written from the loop and the saving thread; each line whole.
class ProgressLine {
 public:
  ProgressLine(std::int32_t files, std::int32_t scans, const FilePhase& phase);

  // While file done + 1 is under way, begun at `fileStartedAt` on the phase's clock.
  void redraw(std::int32_t done, double fileStartedAt, const FileTime& expected);
  // Between the files of a timed series.
  void waiting(std::int32_t number, double seconds);
  // A line of its own, which stays.
  void print(const std::string& text);
  // Clears the redrawn line at the end.
  void finish();

 private:
  std::int32_t files_, scans_;
  const FilePhase& phase_;
  bool terminal_;
  Clock::time_point started_;
  platform::Mutex lock_;
};

}  // namespace dorvane::host
