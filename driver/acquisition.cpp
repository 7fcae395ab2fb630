// The co-added acquisition's exports: spectrometer_startCoadd with the check whether the bench
// still holds the driver's scan settings, spectrometer_stop and spectrometer_getData.
#include "bench/requests.h"
#include "driver/driver.h"
#include "driver/scan_thread.h"

namespace dorvane::driver {

bool Driver::initNeeded() {
  const bench::BenchSetup& setup = state_.benchSetup;
  const bench::ScanSettings& settings = state_.scanSettings;
  bool same = true;
  for (const bench::SetupField field : {bench::field::dataPoints, bench::field::adcStatus, bench::field::forwardServoAnalog,
                                        bench::field::forwardSpeed, bench::field::filterSelect}) {
    same = same && setup.get(field) == settings.get(field);
  }
  log_.print(same ? "dorvane.dll.initNeeded FALSE" : "dorvane.dll.initNeeded TRUE");
  return !same;
}

std::int32_t Driver::startCoadd() {
  DriverState& s = state_;
  log_.print("dorvane.dll.startCoadd");
  // A second acquisition on the same object would reset the events under the running thread.
  if (refusedWhileAcquiring("spectrometer_startCoadd")) return 1;
  // Every early return closes the port it opened (also one that failed half-way through its
  // set-up); the thread owns the port once it runs.
  const auto failed = [&] {
    (void)serial_.close(s.port);
    return 1;
  };
  if (link::openPort(link_, s.port, s.baud) != 0) return failed();

  (void)bench::transmitSetup(link_, s.port, s.benchSetup, s.benchError);
  if (initNeeded()) {
    if (callInit() != 0) return failed();
  } else if (static_cast<std::uint32_t>(s.scans) != s.scanSettings.get(bench::field::sampScans)) {
    s.scanSettings.set(bench::field::sampScans, static_cast<std::uint32_t>(s.scans) & 0xFFFFu);
    s.scanSettings.set(bench::field::primaryZpd, 0);
    (void)bench::txSetup(link_, s.port, s.scanSettings, s.srqCount, s.benchError);
    (void)bench::waitForBench(link_, s.port, 1, s.statusTables, s.benchError);
  }
  if (!s.scanThread) return failed();

  s._scansComplete = 0;
  s._filesComplete = 0;
  AcquisitionPlan plan;
  plan.port = s.port;
  plan.scans = s.scans;
  plan.files = s.files >= 1 ? s.files : 0;
  plan.bench = s.bench;
  plan.benchSetup = s.benchSetup;
  switch (s.scanThread->start(plan)) {
    case CScanThread::Start::started:
      log_.print("startCoadd OK");
      return 0;
    case CScanThread::Start::scanFailed:
      // The thread has closed the port on its way out.
      log_.print("dorvane.dll.startCoadd FAILED TO START");
      return 1;
    case CScanThread::Start::noThread:
      break;
  }
  return failed();
}

std::int32_t Driver::stop() {
  log_.print("dorvane.dll stop");
  if (!state_.scanThread || !state_.scanThread->threadStarted()) return 1;
  state_.scanThread->stop();
  clock_.sleep(1000);
  return 0;
}

std::int32_t Driver::getData(double* buffer, std::int32_t pts, double* timestamp) {
  DriverState& s = state_;
  std::int32_t result = 1;
  if (s.scanThread && s.scanThread->ring().readyScanBufferIndex.load() != -1 && buffer != nullptr &&
      timestamp != nullptr) {
    runtime::ScanRing& ring = s.scanThread->ring();
    const std::int32_t retrieved = ++s.filesRetrieved;
    log_.print("dorvane.dll CScanThread::getData: readyScanBufferIndex= %d; filesComplete= %d; filesRetrieved= %d",
               ring.readyScanBufferIndex.load(), s._filesComplete.load(), retrieved);
    const std::int32_t index = ring.readyScanBufferIndex.load();
    for (std::int32_t i = 0; i < pts; ++i) buffer[i] = 0.0;
    const runtime::CoaddCopy copy = ring.copyCoadd(index, buffer, pts);
    if (copy.copied) {
      *timestamp = copy.timestamp;
      result = 0;
    } else {
      log_.print("dorvane.dll getData()::FAILED: state= %d; points= %d; pts= %d", static_cast<int>(copy.state),
                 copy.points, pts);
    }
  }
  log_.print("dorvane.dll getData returns %d", result);
  return result;
}

}  // namespace dorvane::driver
