// The page of the live view and its scripts, styles and chart library, embedded in the program at
// build time from host/live/web (the chart library from its npm package, pinned by the lock file).
#pragma once

#include <span>

#include "host/live/live_server.h"

namespace dorvane::host::live {

std::span<const Asset> liveAssets();

}  // namespace dorvane::host::live
