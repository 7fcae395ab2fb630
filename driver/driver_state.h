// DriverState: the one record of settings, acquisition parameters, bench identity, progress and
// bench records that every export works on.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "bench/requests.h"
#include "bench/setup_record.h"
#include "dorvane.h"
#include "driver/scan_thread.h"

namespace dorvane::driver {

// Results the driver adds in the gap of the error-word table (named in dorvane.h).
inline constexpr std::int32_t kErrorNullPointer = DORVANE_ERROR_NULL_POINTER;
inline constexpr std::int32_t kErrorNoSuchBlock = DORVANE_ERROR_NO_SUCH_BLOCK;
inline constexpr std::int32_t kErrorPortBusy = DORVANE_ERROR_PORT_BUSY;

// The progress fields, the host's co-add event and the link's words are the acquisition's
// progress record, which the acquisition reaches through this base alone.
struct DriverState : AcquisitionProgress {
  // Settings, loaded from section [Settings] of an INI file; the key name is the field name.
  std::int32_t fvel = 4;
  std::int32_t rvel = 4;
  std::int32_t symmetry = 0;
  std::int32_t points = 16384;
  std::int32_t gain = 0;
  std::int32_t lasersamp = 2;
  std::int32_t lpf = 0;
  std::int32_t port = -1;  // 0-based; -1 means "not set"
  std::int32_t baud = 38400;
  std::int32_t lturn = 1000;
  std::int32_t qturn = 300;
  std::int32_t detector = 1;
  std::int32_t iris = 50;

  // Acquisition parameters, set by the host.
  std::int32_t scans = 16;
  std::int32_t files = 1;
  double resolution = 1.0;  // kept for the host only, never sent to the bench

  // Bench identity, decoded from the setup record's serial number.
  std::int32_t bench = 0;
  std::int32_t benchModel = 0;

  // The host's scan complete event, stored unchanged and never owned; 0 means none.
  std::atomic<std::uintptr_t> scanCompleteEvent{0};

  // Bench protocol records.
  bench::BenchSetup benchSetup;      // the setup last read, in host order
  bench::ScanSettings scanSettings;  // in host order between sends
  bench::StatusTables statusTables;  // statusFlags and statusStamps: the blocks the bench last listed

  // The acquisition object, from open to close; one thread after another runs on it. The module
  // handle that places the log is kept by the platform layer, whose DllMain receives it.
  std::unique_ptr<CScanThread> scanThread;
};

}  // namespace dorvane::driver
