// The wait for a timed series' next file, and what a file that starts late says.
#include "host/acquisition/schedule.h"

#include <algorithm>
#include <cmath>

#include "host/files/file_text.h"

namespace dorvane::host {
namespace {

// How often the waiting line is redrawn.
constexpr int kWaitTickMs = 250;

}  // namespace

bool waitUntilDue(double due, std::int32_t number, const FilePhase& phase, ProgressLine& progress,
                  AcquireObserver& observer, CompletionEvent& coaddDone) {
  if (phase.now() < due) observer.waiting(number, due - phase.now());
  for (double now = phase.now(); now < due; now = phase.now()) {
    progress.waiting(number, due - now);
    const int waitMs = static_cast<int>(std::ceil(std::min<double>(kWaitTickMs, (due - now) * 1000)));
    if (coaddDone.wait(waitMs) == CompletionEvent::Wake::StopRequested) return false;
  }
  return true;
}

std::optional<std::string> slipRemark(double late, double everySeconds, std::int32_t number) {
  // Said from 0.1 s late as printed (to the tenth): less is the loop's own waking (within a tick of
  // the system's clock, 16 ms on Windows) or too little to matter, and "0.0 s late" says nothing.
  if (std::round(late * 10) < 1) return std::nullopt;
  return "the schedule slipped: file " + std::to_string(number) + " starts " + secondsText(late) + " late (--every " +
         numberText(everySeconds) + " s is shorter than file " + std::to_string(number - 1) + " took)";
}

}  // namespace dorvane::host
