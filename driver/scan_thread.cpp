// The acquisition's thread: the file loop, the polls, the kill and the retrieval into the ring.
#include "driver/scan_thread.h"

#include "bench/retrieval.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace dorvane::driver {

CScanThread::CScanThread(const AcquisitionServices& services, AcquisitionProgress& progress)
    : services_(services),
      progress_(progress),
      ring_(services.clock),
      thread_(services.debugOutput),
      serial_(services.serial, thread_.abortEvent),
      clock_(services.clock, thread_.abortEvent),
      link_{serial_, clock_, services.log, &thread_.killEvent},
      pollLink_{serial_, clock_, services.log} {}

CScanThread::~CScanThread() {
  if (running()) stop();
}

CScanThread::Start CScanThread::start(const AcquisitionPlan& plan) {
  if (running()) return Start::noThread;
  plan_ = plan;
  ending_ = false;
  if (thread_.Start([this] { return run(); })) return Start::started;
  if (!thread_.running() && !thread_.threadDoneEvent.isSet()) return Start::noThread;
  // The thread closes the port on its way out; wait for that rather than race it.
  thread_.threadDoneEvent.wait(platform::kWaitForever);
  return Start::scanFailed;
}

std::uint32_t CScanThread::run() {
  platform::nameCurrentThread("dorvane-acquire");
  runtime::LogFile& log = services_.log;
  AcquisitionProgress& p = progress_;
  log.print("dorvane.dll scanThread:entering ThreadProc");
  log.print("dorvane.dll scanThread:files= %d; scans= %d", plan_.files, plan_.scans);

  p._filesComplete = 0;
  p.filesRetrieved = 0;
  while (plan_.files == 0 || p._filesComplete < plan_.files) {
    log.print("dorvane.dll scanThread: bail= %d; _filesComplete= %d", 0, p._filesComplete.load());
    const std::uint32_t stamp =
        bench::startScan(link_, plan_.port, kCoaddScanMode, srqCount_, 0, tables_, error_);
    p.scanStamp = static_cast<std::int32_t>(stamp);
    if (stamp == 0 && thread_.killEvent.isSet()) {
      // A kill in START SCAN's waits ends the scan as a kill while polling does.
      ending_ = true;
      thread_.threadStartFailedEvent.set();
      stopScan();
      break;
    }
    if (stamp == 0) {
      log.print("could not start scan. error %d", error_);
      ending_ = true;
      thread_.threadStartFailedEvent.set();
      platform::signalHostEvent(p.coaddCompleteEvent.load());
      break;
    }
    // The status goes to 64 before the host hears of the start, so a host that returns from
    // spectrometer_startCoadd never reads a stale 4, and an acquisition that is already over by
    // then is never left showing 64.
    p.status = DORVANE_STATUS_ACQUIRING;
    thread_.threadStartedEvent.set();
    p._scansComplete = 0;

    if (plan_.scans >= 1) {
      const int done = pollUntilDone(stamp);
      // A kill while polling ends the acquisition: the interrupted file is neither retrieved nor counted.
      if (done == 0) {
        ending_ = true;
        break;
      }
      if (done < 0) {
        // The bench gave up on the block: nothing will come of it, and polling on would never end.
        log.print("scan failed on the bench. error %d", error_);
        ending_ = true;
        platform::signalHostEvent(p.coaddCompleteEvent.load());
        break;
      }
    }
    // A retrieval that the kill cut short is neither counted nor signalled.
    if (!prepareData(stamp)) {
      ending_ = true;
      break;
    }
    // Said before the host can see the last file: a host that fetches it and starts the next
    // acquisition at once finds this thread ending, not running.
    if (plan_.files != 0 && p._filesComplete + 1 >= plan_.files) ending_ = true;
    ++p._filesComplete;
    if (const std::uintptr_t event = p.coaddCompleteEvent.load(); event != 0) {
      log.print("dorvane.dll scanThread: setting coaddCompleteEvent");
      platform::signalHostEvent(event);
    }
  }

  log.print("dorvane.dll scanThread:DONE");
  (void)serial_.close(plan_.port);
  log.print("dorvane.dll scanThread: setting threadDoneEvent ");
  thread_.threadDoneEvent.set();
  p.status = DORVANE_STATUS_IDLE;
  log.print("dorvane.dll scanThread: exiting ThreadProc");
  return 0;
}

int CScanThread::pollUntilDone(std::uint32_t stamp) {
  AcquisitionProgress& p = progress_;
  bool stampTaken = false;
  for (;;) {
    // Checked after the poll that reports the block done too: a kill seen there sends no data
    // request, which would only be aborted at once.
    if (thread_.killEvent.isSet()) {
      stopScan();
      return 0;
    }
    if (p._scansComplete >= plan_.scans) return 1;
    clock_.sleep(kScanPollMs);
    // A poll that fails counts as not done: polling goes on until done or killed.
    const std::int32_t done = bench::pollScanDone(pollLink_, plan_.port, stamp, tables_, error_);
    if (done < 0) return -1;
    if (done == 1) {
      // The bench co-adds internally and reports no per-scan progress: all scans at once.
      p._scansComplete = plan_.scans;
      if (!stampTaken) {
        ring_.scanTimestamp = ring_.clock.nowMs();
        stampTaken = true;
      }
      services_.log.print("dorvane.dll scanThread:_scansComplete= %d", p._scansComplete.load());
    }
  }
}

void CScanThread::stopScan() {
  runtime::LogFile& log = services_.log;
  log.print("dorvane.dll scanThread: kill event received");
  log.print("dorvane.dll scanThread: calling stopScan");
  (void)bench::stopScan(pollLink_, plan_.port, srqCount_, error_);
  clock_.sleep(kScanPollMs);
  log.print("dorvane.dll scanThread: waiting for bench");
  (void)bench::waitForBench(pollLink_, plan_.port, 1, tables_, error_);
  log.print("dorvane.dll scanThread: done waiting for bench");
}

bool CScanThread::prepareData(std::uint32_t stamp) {
  AcquisitionProgress& p = progress_;
  runtime::LogFile& log = services_.log;
  log.print("dorvane.dll scanThread:PrepareData");
  if (p._scansComplete == 0) {
    log.print("dorvane.dll scanThread:PrepareData: no scans!");
    return true;
  }
  float* data = nullptr;
  std::int32_t count = 0;
  const std::int32_t result = bench::rxSpectrum(link_, plan_.port, plan_.bench, stamp, data, count, plan_.benchSetup,
                                                p.srqCount, p.benchError);
  if (result == 1 && data != nullptr) ring_.publishCoadd(data, count);
  delete[] data;
  return result == 1 || !thread_.killEvent.isSet();
}

}  // namespace dorvane::driver
