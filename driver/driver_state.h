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

// The progress fields, the host's co-add event and the link's words are the acquisition's
// progress record, which the acquisition reaches through this base alone.
struct DriverState : AcquisitionProgress {
  // Settings, loaded from section [Settings] of an INI file. Each entry is the key, which is also
  // the field's name, and the built-in value the field has until a load; the load reads them in
  // this order.
#define DORVANE_DRIVER_SETTINGS(X) \
  X(fvel, 4)                       \
  X(rvel, 4)                       \
  X(symmetry, 0)                   \
  X(points, 16384)                 \
  X(gain, 0)                       \
  X(lasersamp, 2)                  \
  X(lpf, 0)                        \
  X(port, -1) /* 0-based; -1 means "not set" (the file counts from 1) */ \
  X(baud, 38400)                   \
  X(lturn, 1000)                   \
  X(qturn, 300)                    \
  X(detector, 1)                   \
  X(iris, 50)
#define DORVANE_SETTING_FIELD(name, initial) std::int32_t name = initial;
  DORVANE_DRIVER_SETTINGS(DORVANE_SETTING_FIELD)
#undef DORVANE_SETTING_FIELD

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
