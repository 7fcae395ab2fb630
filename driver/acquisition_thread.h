// AcquisitionThread: the acquisition object whose thread runs co-added acquisitions, file after
// file: START SCAN, 100 ms polls until the bench has co-added the scans, retrieval, the scan
// buffer, the host's co-add event.
#pragma once

#include <cstdint>

#include "link/com_port.h"
#include "platform/event.h"
#include "runtime/scan_thread.h"
#include "runtime/thread_abort.h"

namespace dorvane::driver {

class Driver;

inline constexpr std::uint32_t kScanPollMs = 100;
inline constexpr std::uint16_t kCoaddScanMode = 5;

class AcquisitionThread final : public runtime::CScanThread {
 public:
  explicit AcquisitionThread(Driver& driver);

  // The start handshake of spectrometer_startCoadd: the thread sets the first after every START
  // SCAN that succeeded and the second when one failed. They belong to this object, so a signal
  // that comes after the host stopped waiting lands on an event that still exists.
  platform::Event startedEvent;
  platform::Event startFailedEvent;

  // The port this acquisition holds; taken at the start, so a settings load meanwhile cannot make
  // the thread close a port other than its own.
  std::int32_t port = -1;

  std::uint32_t ThreadProc() override;

 private:
  // Waits for the bench to co-add the current file's scans; false when the kill event ended it.
  bool pollUntilDone(std::uint16_t& threadSrqCount, std::int32_t& threadError);
  void prepareData();
  void signalCoaddComplete();

  Driver& driver_;
  // The thread's own view of the serial layer and the clock, which its abort cuts short.
  runtime::AbortableSerial serial_;
  runtime::AbortableClock clock_;
  link::LinkServices link_;
};

}  // namespace dorvane::driver
