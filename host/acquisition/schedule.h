// A timed series' schedule: file n is due n - 1 periods after the first began; the wait for it, and
// the remark for a file that starts late because the one before took longer than a period.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/acquisition/acquire.h"
#include "host/acquisition/progress_line.h"
#include "host/os/host_os.h"

namespace dorvane::host {

// Waits until `due` (seconds on the phase's clock) for file `number`, the wait shown on the progress
// line and told to the observer; false when a stop is requested meanwhile.
bool waitUntilDue(double due, std::int32_t number, const FilePhase& phase, ProgressLine& progress,
                  AcquireObserver& observer, CompletionEvent& coaddDone);

// "the schedule slipped: file 3 starts 0.4 s late (--every 2 s is shorter than file 2 took)" for a
// file that starts `late` seconds after its time, or none when that is no more than the loop's own
// waking.
std::optional<std::string> slipRemark(double late, double everySeconds, std::int32_t number);

}  // namespace dorvane::host
