// The co-added acquisition: spectrometer_startCoadd with its start handshake, the acquisition
// thread's file loop, spectrometer_stop and spectrometer_getData.
#include "bench/requests.h"
#include "bench/retrieval.h"
#include "driver/acquisition_thread.h"
#include "driver/driver.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace dorvane::driver {

AcquisitionThread::AcquisitionThread(Driver& driver)
    : runtime::CScanThread(driver.clock_, driver.debugOutput_),
      driver_(driver),
      serial_(driver.serial_, abortEvent),
      clock_(driver.clock_, abortEvent),
      link_{serial_, clock_, driver.log_} {}

std::uint32_t AcquisitionThread::ThreadProc() {
  threadStartedEvent.set();
  platform::nameCurrentThread("dorvane-acquire");
  DriverState& s = driver_.state_;
  runtime::LogFile& log = driver_.log_;
  log.print("dorvane.dll scanThread:entering ThreadProc");
  log.print("dorvane.dll scanThread:files= %d; scans= %d", files, scans);

  s._filesComplete = 0;
  s.filesRetrieved = 0;
  std::uint16_t threadSrqCount = 0;
  std::int32_t threadError = 0;  // the thread's own error word; only the retrieval uses benchError
  while (files == 0 || s._filesComplete < files) {
    log.print("dorvane.dll scanThread: bail= %d; _filesComplete= %d", 0, s._filesComplete.load());
    const std::uint32_t stamp =
        bench::startScan(link_, port, kCoaddScanMode, threadSrqCount, 0, s.statusTables, threadError);
    s.scanStamp = static_cast<std::int32_t>(stamp);
    if (stamp == 0) {
      log.print("could not start scan. error %d", threadError);
      startFailedEvent.set();
      platform::signalHostEvent(s.coaddCompleteEvent.load());
      break;
    }
    // The status goes to 64 before the host hears of the start, so a host that returns from
    // spectrometer_startCoadd never reads a stale 4, and an acquisition that is already over by
    // then is never left showing 64.
    s.status = 64;
    startedEvent.set();
    s._scansComplete = 0;

    // A kill while polling ends the acquisition: the interrupted file is neither retrieved nor counted.
    if (scans >= 1 && !pollUntilDone(threadSrqCount, threadError)) break;
    prepareData();
    ++s._filesComplete;
    if (const std::uintptr_t event = s.coaddCompleteEvent.load(); event != 0) {
      log.print("dorvane.dll scanThread: setting coaddCompleteEvent");
      platform::signalHostEvent(event);
    }
  }

  log.print("dorvane.dll scanThread:DONE");
  (void)serial_.close(port);
  log.print("dorvane.dll scanThread: setting threadDoneEvent ");
  threadDoneEvent.set();
  s.status = 4;
  log.print("dorvane.dll scanThread: exiting ThreadProc");
  return 0;
}

bool AcquisitionThread::pollUntilDone(std::uint16_t& threadSrqCount, std::int32_t& threadError) {
  DriverState& s = driver_.state_;
  runtime::LogFile& log = driver_.log_;
  const auto stamp = static_cast<std::uint32_t>(s.scanStamp.load());
  bool stampTaken = false;
  do {
    if (killEvent.isSet()) {
      log.print("dorvane.dll scanThread: kill event received");
      log.print("dorvane.dll scanThread: calling stopScan");
      (void)bench::stopScan(link_, port, threadSrqCount, threadError);
      clock_.sleep(kScanPollMs);
      log.print("dorvane.dll scanThread: waiting for bench");
      (void)bench::waitForBench(link_, port, 1, s.statusTables, threadError);
      log.print("dorvane.dll scanThread: done waiting for bench");
      return false;
    }
    clock_.sleep(kScanPollMs);
    // A poll that fails or reports an error counts as not done: polling goes on until done or killed.
    if (bench::pollScanDone(link_, port, stamp, s.statusTables, threadError) == 1) {
      // The bench co-adds internally and reports no per-scan progress: all scans at once.
      s._scansComplete = scans;
      if (!stampTaken) {
        scanTimestamp = clock.nowMs();
        stampTaken = true;
      }
      log.print("dorvane.dll scanThread:_scansComplete= %d", s._scansComplete.load());
    }
  } while (s._scansComplete < scans);
  return true;
}

void AcquisitionThread::prepareData() {
  DriverState& s = driver_.state_;
  runtime::LogFile& log = driver_.log_;
  log.print("dorvane.dll scanThread:PrepareData");
  if (s._scansComplete == 0) {
    log.print("dorvane.dll scanThread:PrepareData: no scans!");
    return;
  }
  float* data = nullptr;
  std::int32_t count = 0;
  const std::int32_t result =
      bench::rxSpectrum(link_, port, s.bench, static_cast<std::uint32_t>(s.scanStamp.load()), data, count,
                        s.benchSetup, s.srqCount, s.benchError);
  if (result == 1 && data != nullptr) publishCoadd(data, count);
  delete[] data;
}

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

  AcquisitionThread& thread = *s.scanThread;
  s._scansComplete = 0;
  s._filesComplete = 0;
  thread.scans = s.scans;
  thread.files = s.files >= 1 ? s.files : 0;
  thread.port = s.port;
  thread.startedEvent.reset();
  thread.startFailedEvent.reset();
  if (!thread.Start()) return failed();

  // The thread answers after its first START SCAN, which gives up within its own bounds; its done
  // event stands in for an answer it could not give.
  const int answer = platform::Event::waitAny({&thread.startedEvent, &thread.startFailedEvent, &thread.threadDoneEvent},
                                              platform::kWaitForever);
  if (answer != 0) {
    log_.print("dorvane.dll.startCoadd FAILED TO START");
    // The thread closes the port on its way out; wait for that rather than race it.
    thread.threadDoneEvent.wait(platform::kWaitForever);
    return 1;
  }
  log_.print("startCoadd OK");
  return 0;
}

std::int32_t Driver::stop() {
  log_.print("dorvane.dll stop");
  if (!state_.scanThread || !state_.scanThread->threadStarted()) return 1;
  state_.scanThread->Stop();
  clock_.sleep(1000);
  return 0;
}

std::int32_t Driver::getData(double* buffer, std::int32_t pts, double* timestamp) {
  DriverState& s = state_;
  std::int32_t result = 1;
  if (s.scanThread && s.scanThread->readyScanBufferIndex.load() != -1 && buffer != nullptr && timestamp != nullptr) {
    AcquisitionThread& thread = *s.scanThread;
    const std::int32_t retrieved = ++s.filesRetrieved;
    log_.print("dorvane.dll CScanThread::getData: readyScanBufferIndex= %d; filesComplete= %d; filesRetrieved= %d",
               thread.readyScanBufferIndex.load(), s._filesComplete.load(), retrieved);
    const std::int32_t index = thread.readyScanBufferIndex.load();
    for (std::int32_t i = 0; i < pts; ++i) buffer[i] = 0.0;
    const runtime::CoaddCopy copy = thread.copyCoadd(index, buffer, pts);
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
