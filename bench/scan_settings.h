// The scan settings builder: the driver's acquisition settings and the bench's identity become the
// record that PUT SETUP sends, through the bench family's tables.
#pragma once

#include <cstdint>

#include "bench/setup_record.h"

namespace dorvane::bench {

// What the builder reads, by the names of the driver's settings.
struct ScanRequest {
  std::int32_t bench = 0;
  std::int32_t benchModel = 0;
  std::int32_t points = 16384;
  std::int32_t scans = 16;
  std::int32_t lasersamp = 2;
  std::int32_t gain = 0;
  std::int32_t fvel = 4;
  std::int32_t rvel = 4;
  std::int32_t detector = 1;
  std::int32_t lpf = 0;
  std::int32_t qturn = 300;
  std::int32_t lturn = 1000;
  std::int32_t symmetry = 0;
};

// Fills `settings` (cleared first) from `request` and the bench's own setup. Settings outside a
// table are taken as its last entry (negative ones as its first).
void loadScanSettings(const ScanRequest& request, ScanSettings& settings, const BenchSetup& benchSetup);

}  // namespace dorvane::bench
