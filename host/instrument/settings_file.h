// The settings file as the host checks it before handing it to the driver. The driver reads every
// key as the leading number of its value and takes a missing key for 0, so "points=abc" scans 64
// points and a missing baud fails only at the port; the host refuses such a file with one line that
// names the file, the key, the value and what it may be.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dorvane.h"

namespace dorvane::host {

// The largest request the driver can hold: the bench adds 64 points, and a co-add is at most
// DORVANE_MOST_COADD_POINTS.
inline constexpr std::int32_t kLargestCoadd = DORVANE_MOST_COADD_POINTS;
inline constexpr std::int32_t kBenchAddedPoints = 64;
inline constexpr std::int32_t kLargestPointsRequest = kLargestCoadd - kBenchAddedPoints;
// Why kLargestPointsRequest is the largest, as a refusal ends: " (the bench adds 64 points and the
// driver holds at most 65535)".
const std::string& pointsLimitNote();

// What the host takes from a checked file.
struct CheckedSettings {
  std::string path;       // as given
  std::int32_t port = 0;  // as the file numbers ports, from 1
  std::int32_t baud = 0;
  std::optional<std::int32_t> points;  // none: the file has no points key
  std::int32_t lasersamp = 0;          // 0 when the file has none
  std::vector<std::string> warnings;   // unknown or repeated keys: one line each
};

// Reads and checks `path`. Throws HostFailure with one line for a file that cannot be read, a value
// that is no whole number or lies outside its range, and a missing port or baud.
CheckedSettings checkSettingsFile(const std::string& path);

// The line that refuses a points request above kLargestPointsRequest; `what` names where it came from
// (e.g. "--points 65536").
std::string tooManyPoints(const std::string& what);

}  // namespace dorvane::host
