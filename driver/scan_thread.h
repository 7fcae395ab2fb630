// CScanThread: the acquisition, one component. It is given its services and, per acquisition, a
// plan; it owns its worker thread (with the kill and the abort), the ring of scan buffers and the
// clock that stamps them. Its thread runs file after file: START SCAN, 100 ms polls until the
// bench has co-added the scans, the retrieval, the ring, the host's co-add event. It reports
// through the progress record and that event alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "bench/requests.h"
#include "bench/setup_record.h"
#include "link/com_port.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"
#include "runtime/scan_ring.h"
#include "runtime/thread_abort.h"
#include "runtime/thread_base.h"

namespace dorvane::driver {

inline constexpr std::uint32_t kScanPollMs = 100;
inline constexpr std::uint16_t kCoaddScanMode = 5;

struct AcquisitionServices {
  platform::SerialLibrary& serial;
  platform::Clock& clock;
  runtime::LogFile& log;
  platform::DebugOutput& debugOutput;
};

// What one acquisition does, fixed at its start.
struct AcquisitionPlan {
  std::int32_t port = -1;  // open already; the thread closes it when it ends
  std::int32_t scans = 0;  // scans co-added per file; 0 or less: files without data
  std::int32_t files = 1;  // 0: until stopped
  std::int32_t bench = 0;  // the family, which picks the conversion's voltage range
  bench::BenchSetup benchSetup;
};

// What the acquisition reports while the host polls, and the link's words that its retrievals
// share with the exports' requests. The counters are atomics of the original width: a poll may
// see a value one step old, never a torn one.
struct AcquisitionProgress {
  std::atomic<std::int32_t> status{0};  // 0 never opened, 4 open and idle, 64 acquiring
  std::atomic<std::int32_t> _scansComplete{0};
  std::atomic<std::int32_t> _filesComplete{0};
  std::atomic<std::int32_t> filesRetrieved{0};
  std::atomic<std::int32_t> scanStamp{0};
  // The host's event, signalled after every file; stored unchanged and never owned; 0 means none.
  std::atomic<std::uintptr_t> coaddCompleteEvent{0};
  std::int32_t benchError = 0;  // nothing in the driver resets it
  std::uint16_t srqCount = 0;
};

class CScanThread {
 public:
  CScanThread(const AcquisitionServices& services, AcquisitionProgress& progress);
  // Stops a running thread first: it works on the members below.
  ~CScanThread();
  CScanThread(const CScanThread&) = delete;
  CScanThread& operator=(const CScanThread&) = delete;

  enum class Start { started, scanFailed, noThread };
  // Starts the thread on `plan` and returns once its first START SCAN has started or failed
  // (after which the thread ends by itself, closing the port), or when no thread could be made.
  Start start(const AcquisitionPlan& plan);
  // Kill, a bounded wait, then the abort as the last resort; the thread is joined on return.
  void stop() { thread_.Stop(); }

  bool threadStarted() const { return thread_.threadStarted(); }
  bool running() const { return thread_.running(); }
  // True once the thread has decided to end (its last file or its failure told to the host, or a
  // kill seen): from then on it only closes the port and returns.
  bool ending() const { return ending_.load(); }
  // Waits up to `ms` for an ending thread to finish; true once it has.
  bool waitForEnd(std::uint32_t ms) { return thread_.threadDoneEvent.wait(ms); }
  runtime::ScanRing& ring() { return ring_; }
  runtime::CThreadBase& thread() { return thread_; }

 private:
  std::uint32_t run();
  // Waits for the bench to co-add the current file's scans: 1 done, 0 killed, -1 the block failed.
  int pollUntilDone(std::uint32_t stamp);
  // After the kill: STOP SCAN, then the wait for the bench.
  void stopScan();
  // Retrieves the file into the ring; false when the kill cut the retrieval short.
  bool prepareData(std::uint32_t stamp);

  AcquisitionServices services_;
  AcquisitionProgress& progress_;
  runtime::ScanRing ring_;
  AcquisitionPlan plan_;
  bench::StatusTables tables_;  // the blocks as the thread's own status requests list them
  std::uint16_t srqCount_ = 0;  // the thread's own, apart from the retrieval's
  std::int32_t error_ = 0;      // the thread's own error word; only the retrieval uses benchError
  std::atomic<bool> ending_{false};
  // Declared before the views of the serial layer and the clock that its abort cuts short.
  runtime::CThreadBase thread_;
  runtime::AbortableSerial serial_;
  runtime::AbortableClock clock_;
  // START SCAN's waits and the retrievals end at the next packet boundary once the kill is set;
  // the polls and the stop that follows a kill run to their end as they always have.
  link::LinkServices link_;
  link::LinkServices pollLink_;
};

}  // namespace dorvane::driver
