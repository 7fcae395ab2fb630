// The sample shuttle, moved through the driver's command strings: position 1 holds the sample in the
// beam, position 2 leaves the beam open.
#pragma once

#include <optional>
#include <string>

#include "host/instrument/bench_driver.h"

namespace dorvane::host {

// Whether the bench has a shuttle; none when the bench could not be asked.
std::optional<bool> benchHasShuttle(BenchDriver& driver = exportsDriver());

// Moves the shuttle to `position` (1 or 2), saying so on stdout with `why` ("the open beam, for the
// background"); the driver waits 10 s for the bench to settle. Throws HostFailure when it did not move.
void moveShuttle(int position, const std::string& why, BenchDriver& driver = exportsDriver());

}  // namespace dorvane::host
