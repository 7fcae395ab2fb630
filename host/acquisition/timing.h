// How long the bench takes over a file, as the acquisition expects it, and the clocks and words the
// acquisition tells its times with.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace dorvane::host {

using Clock = std::chrono::steady_clock;

// How long the bench takes over a file: its scans at the setup's scan time, and the transfer of its
// points over the line. scanSeconds is none when the bench's setup gives no scan time.
struct FileTime {
  std::optional<double> scanSeconds;
  double transferSeconds = 0;
};

double secondsSince(Clock::time_point start);
// "2.5 s", "12 s".
std::string secondsText(double seconds);
// Now, in ms since 1970 UTC: when a file began, as its record keeps it.
double wallClockMs();

// The bytes a point takes on the line: the sums of `scans` 16-bit samples, in 2, 3 or 4 bytes.
int bytesPerPoint(std::int32_t scans);
// The wait for the next file before the bench is given up, when the user sets none.
int defaultTimeoutSeconds(const FileTime& expected, std::int32_t scans);
// "4 scans in about 2.0 s and 0.4 s of transfer".
std::string expectedText(const FileTime& expected, std::int32_t scans);

}  // namespace dorvane::host
