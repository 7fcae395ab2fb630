// The acquisition's time estimates: a file's scans and transfer, and the default time-out.
#include "host/acquisition/timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/acquisition/acquire.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

// A bench whose setup gives no scan time is taken to need this long a scan, for the time-out alone.
constexpr double kAssumedScanSeconds = 1.0;
// The default time-out: twice the expected time of a file and this much more, at least the least.
constexpr double kTimeoutMarginSeconds = 30;
constexpr double kLeastTimeoutSeconds = 60;

}  // namespace

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, seconds < 10 ? "%.1f s" : "%.0f s", seconds);
  return text;
}

double wallClockMs() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int bytesPerPoint(std::int32_t scans) {
  const double largestSum = 65535.0 * std::max(scans, 1);
  return largestSum <= 65535.0 ? 2 : largestSum <= 16777215.0 ? 3 : 4;
}

double transferSeconds(std::int64_t points, int bytesPerPoint, std::int32_t baud) {
  // Each packet of up to 240 bytes adds its header, its checksum and the driver's answer.
  constexpr double kPacketShare = 1.03;
  constexpr double kBitsPerByte = 10;
  if (baud <= 0 || points <= 0) return 0;
  return static_cast<double>(points) * bytesPerPoint * kBitsPerByte * kPacketShare / baud;
}

int defaultTimeoutSeconds(const FileTime& expected, std::int32_t scans) {
  const double file = expected.scanSeconds.value_or(kAssumedScanSeconds * scans) + expected.transferSeconds;
  return static_cast<int>(std::ceil(std::max(kLeastTimeoutSeconds, 2 * file + kTimeoutMarginSeconds)));
}

std::string expectedText(const FileTime& expected, std::int32_t scans) {
  std::string text = counted(scans, "scan");
  if (expected.scanSeconds) text += " in about " + secondsText(*expected.scanSeconds);
  return text + " and " + secondsText(expected.transferSeconds) + " of transfer";
}

}  // namespace dorvane::host
