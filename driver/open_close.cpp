// spectrometer_open, spectrometer_initialize and spectrometer_close, and callInit, which builds the
// scan settings and puts them into the bench.
#include <new>

#include "bench/requests.h"
#include "bench/scan_settings.h"
#include "driver/scan_thread.h"
#include "driver/driver.h"

namespace dorvane::driver {

std::int32_t Driver::open(std::int32_t id) {
  DriverState& s = state_;
  log_.print("dorvane.dll spectrometer_open(id = %d) port= %d; baud= %d", id, s.port, s.baud);
  if (s.port == -1) {
    log_.print("dorvane.dll.spectrometer_open: port is not set");
    return -1;
  }
  // A second open would replace the acquisition object under its running thread.
  if (refusedWhileAcquiring("spectrometer_open")) return kErrorPortBusy;

  link::ComPort port(link_, s.port, s.baud);
  if (!port.valid()) return port.openResult();

  log_.print("dorvane.dll.spectrometer_open: requesting setup info");
  const std::int32_t result = bench::transmitSetup(link_, s.port, s.benchSetup, s.benchError);
  if (result != 0) {
    log_.print("dorvane.dll.spectrometer_open: requesting setup failed %d", s.benchError);
    return result;
  }
  s.bench = bench::decodeBench(log_, s.benchSetup, s.benchModel);
  log_.print("bench = %d, %d", s.bench, s.benchModel);
  // The object it replaces has no running thread (checked above), so it is released here. When no
  // new one can be made there is none: the open still succeeds and spectrometer_startCoadd refuses.
  try {
    s.scanThread = std::make_unique<CScanThread>(acquisitionServices(), s);
  } catch (const std::bad_alloc&) {
    s.scanThread.reset();
    log_.print("dorvane.dll.spectrometer_open: no memory for the acquisition object");
  }
  s.status = DORVANE_STATUS_IDLE;
  return 0;
}

std::int32_t Driver::callInit() {
  DriverState& s = state_;
  log_.print("dorvane.dll.callInit");
  bench::ScanRequest request;
  request.bench = s.bench;
  request.benchModel = s.benchModel;
  request.points = s.points;
  request.scans = s.scans;
  request.lasersamp = s.lasersamp;
  request.gain = s.gain;
  request.fvel = s.fvel;
  request.rvel = s.rvel;
  request.detector = s.detector;
  request.lpf = s.lpf;
  request.qturn = s.qturn;
  request.lturn = s.lturn;
  request.symmetry = s.symmetry;
  bench::loadScanSettings(request, s.scanSettings, s.benchSetup);  // clears the record first
  s.scanSettings.set(bench::field::primaryZpd, 1);
  s.scanSettings.set(bench::field::iris, static_cast<std::uint32_t>(s.iris) * 100u);  // low 16 bits kept

  if (bench::txSetup(link_, s.port, s.scanSettings, s.srqCount, s.benchError) != 1) {
    log_.print("dorvane.dll: initialize: putting setup failed");
    return 1;
  }
  (void)bench::waitForBench(link_, s.port, 1, s.statusTables, s.benchError);
  // The second read only serves the log's dump: with the log off it is not sent at all.
  if (log_.disabled() != 0) return 0;
  (void)bench::transmitSetup(link_, s.port, s.benchSetup, s.benchError);
  bench::dumpSetup(log_, s.benchSetup);
  return 0;
}

std::int32_t Driver::initialize() {
  log_.print("dorvane.dll.spectrometer_initialize");
  if (refusedWhileAcquiring("spectrometer_initialize")) return kErrorPortBusy;
  link::ComPort port(link_, state_.port, state_.baud);
  if (!port.valid()) return port.openResult();
  return callInit();
}

std::int32_t Driver::close() {
  DriverState& s = state_;
  log_.print("dorvane.dll close");
  // The object goes even when its thread never started, rather than waiting for the next open;
  // Stop has joined its thread by then.
  if (s.scanThread) {
    if (s.scanThread->threadStarted()) s.scanThread->stop();
    s.scanThread.reset();
  }
  // A port that a stopped acquisition left open is closed without the closing line.
  if (serial_.portStatus(s.port, 0xFFFF) >= 0) serial_.close(s.port);
  return 1;
}

}  // namespace dorvane::driver
