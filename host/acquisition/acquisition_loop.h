// The acquisition from its first scan to its end: the loop waits on the co-add event (no polling of
// the driver for files), fetches each file and hands it to the saver.
#pragma once

#include <cstdint>
#include <string>

#include "host/acquisition/acquire.h"
#include "host/acquisition/progress_line.h"
#include "host/acquisition/saver.h"
#include "host/acquisition/timing.h"
#include "host/instrument/bench_driver.h"
#include "host/os/host_os.h"

namespace dorvane::host {

// What the bench is set up for, asked before the acquisition holds the port.
struct BenchPlan {
  std::int32_t files = 0, scans = 0;
  std::string setupText;
  FileTime expected;
  int timeoutSeconds = 0;
};

// What the loop works with, all made before the first scan and outliving the loop.
struct AcquisitionParts {
  const AcquireOptions& options;
  BenchDriver& driver;
  const BenchPlan& plan;
  std::int32_t benchIdentity;
  CompletionEvent& coaddDone;
  FilePhase& phase;
  ProgressLine& progress;
  Saver& saver;
  AcquireObserver& observer;
  double startedMs;  // when the first file was started (wall clock); `phase.origin` on the steady clock
};

// Runs from the first file's scan until the files are in, a stop or a failure; the port is closed
// on every way out but the last file's. Returns the files saved, or throws HostFailure.
std::int32_t runAcquisition(const AcquisitionParts& parts);

// "<prefix>-002": file 2's name without its extension.
std::string numbered(const std::string& prefix, std::int32_t number);

// The line for spectrometer_startCoadd's failure `result` to start `what` ("file 2").
std::string startFailed(BenchDriver& driver, std::int32_t result, const std::string& what);

}  // namespace dorvane::host
