// Reading back the interferogram files the host saves (CSV or JCAMP-DX, told apart by their content),
// for processing into spectra. A file is untrusted: its size is bounded before it is read, every
// number and every count is checked, and anything else gets one line that says what is wrong.
#pragma once

#include <cstdint>
#include <string>

#include "dorvane.h"
#include "host/files/interferogram_files.h"

namespace dorvane::host {

// The most a file may hold: as many points as the driver ever returns, and bytes to match.
inline constexpr std::size_t kLargestInterferogramPoints = DORVANE_MOST_BLOCK_POINTS;
inline constexpr std::uintmax_t kLargestInterferogramFile = 512ull << 20;

struct InterferogramReading {
  InterferogramRecord record;  // title, volts, scans, gain, sampling (when the file has them)
  std::string failure;         // empty on success; else what is wrong, e.g. "line 12: ..."
};

InterferogramReading readInterferogramFile(const std::string& path);

}  // namespace dorvane::host
