// The acquisition's progress line: the phase of the file under way, redrawn on a terminal.
#include "host/acquisition/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host {

std::string fileTitle(std::int32_t number, std::int32_t files) {
  return "file " + std::to_string(number) + (files > 0 ? " of " + std::to_string(files) : "");
}

ProgressLine::ProgressLine(std::int32_t files, std::int32_t scans, const FilePhase& phase)
    : files_(files), scans_(scans), phase_(phase), terminal_(stdoutIsTerminal()), started_(Clock::now()) {}

void ProgressLine::redraw(std::int32_t done, double fileStartedAt, const FileTime& expected) {
  if (!terminal_) return;
  const double elapsed = secondsSince(started_);
  std::string what;
  if (phase_.transferring) {
    const double took = phase_.now() - phase_.transferStartedAt;
    const double share = phase_.transferSeconds > 0 ? std::min(99.0, 100 * took / phase_.transferSeconds) : 0;
    char text[96];
    std::snprintf(text, sizeof text, "transferring, about %.0f %% (%s of %s)", share, secondsText(took).c_str(),
                  secondsText(phase_.transferSeconds).c_str());
    what = text;
  } else {
    what = "scanning " + counted(scans_, "scan") + ", " + secondsText(phase_.now() - fileStartedAt);
    if (expected.scanSeconds) what += " of about " + secondsText(*expected.scanSeconds);
  }
  char line[224];
  std::snprintf(line, sizeof line, "\r\033[K%s: %s; %.0f s elapsed, %.2f files/min", fileTitle(done + 1, files_).c_str(),
                what.c_str(), elapsed, elapsed > 0 ? done * 60.0 / elapsed : 0.0);
  platform::ScopedLock hold(lock_);
  std::cout << line << std::flush;
}

void ProgressLine::waiting(std::int32_t number, double seconds) {
  if (!terminal_) return;
  const std::string line = "\r\033[K" + fileTitle(number, files_) + ": starts in " + secondsText(seconds) + "; " +
                           secondsText(secondsSince(started_)) + " elapsed";
  platform::ScopedLock hold(lock_);
  std::cout << line << std::flush;
}

void ProgressLine::print(const std::string& text) {
  platform::ScopedLock hold(lock_);
  if (terminal_) std::cout << "\r\033[K";
  std::cout << text << std::endl;
}

void ProgressLine::finish() {
  platform::ScopedLock hold(lock_);
  if (terminal_) std::cout << "\r\033[K" << std::flush;
}

}  // namespace dorvane::host
