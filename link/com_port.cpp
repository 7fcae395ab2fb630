// The link's use of the serial port: opening with the bench's line settings, byte and block sends,
// and receives that keep their time limits on the driver's own tick count while the serial layer
// blocks between arrivals.
#include "link/com_port.h"

#include <algorithm>

#include "link/result_codes.h"
#include "link/wire.h"

namespace dorvane::link {
namespace {

using platform::InputWait;

// The queues the bench link needs: every reply packet of the bench fits in them many times over.
constexpr int kQueueSize = 1024;

// rxBytes maps the system's last error after a failed block read to the link's error word. The
// system codes are Windows' communication-error flags: receive-queue overflow, overrun, parity,
// framing, break, transmit queue full, invalid mode.
std::int32_t readFailureCode(int readResult, int systemError, std::int32_t unchanged) {
  if (readResult == platform::kSerialNotOpen) return kErrorReadNotOpen;
  if (readResult == platform::kSerialBadPort) return kErrorReadBadPort;
  switch (systemError) {
    case 0: return unchanged;
    case 1: return kErrorReadOverflow;
    case 2: return kErrorReadOverrun;
    case 4: return kErrorReadParity;
    case 8: return kErrorReadFraming;
    case 16: return kErrorReadBreak;
    case 256: return kErrorReadTransmitFull;
    case 32768: return kErrorReadMode;
    default: return kErrorReadOther;
  }
}

// The serial layer's reasons for a refused opening reach the host as they are: the numbers the
// public header gives them.
static_assert(platform::kSerialInUse == DORVANE_ERROR_PORT_IN_USE);
static_assert(platform::kSerialDenied == DORVANE_ERROR_PORT_DENIED);
static_assert(platform::kSerialNotSerial == DORVANE_ERROR_NOT_A_SERIAL_PORT);

}  // namespace

std::int32_t openPort(LinkServices& link, std::int32_t port, std::int32_t baud) {
  platform::SerialLibrary& serial = link.serial;
  link.log.print("openPort %d %d", port, baud);

  // Each step logs its line, then makes its call; the first negative result ends the opening.
  // The steps before the port opens pass -1 for it: they set what the opening then uses.
  const auto failed = [&](int code) {
    link.log.print("error %d, winerr %d", code, serial.lastSystemError());
    return code;
  };
  int code = 0;
  link.log.print("dorvane.dll open: SioReset");
  if ((code = serial.reset(-1, 1, 1)) < 0) return failed(code);
  link.log.print("dorvane.dll open: SioParms");
  code = serial.lineParameters(-1, platform::kBenchParity, platform::kBenchStopBits, platform::kBenchDataBits);
  if (code < 0) return failed(code);
  link.log.print("dorvane.dll open: SioBaud");
  if ((code = serial.baud(-1, baud)) < 0) return failed(code);
  link.log.print("dorvane.dll open: SioReset");
  if ((code = serial.reset(port, kQueueSize, kQueueSize)) < 0) return failed(code);
  link.log.print("dorvane.dll open: SioFlow");
  if ((code = serial.flow(port, platform::kFlowHardware)) < 0) return failed(code);

  link.log.print("dorvane.dll open: SioTImeouts");
  // Reads return at once with what is waiting; a write may take 1 ms a byte plus 2000 ms.
  if ((code = serial.timeouts(port, platform::kTimeoutImmediate, 0, 0, 1, 2000)) < 0) {
    link.log.print("error %d", code);
    return code;
  }
  return 0;
}

void closePort(LinkServices& link, std::int32_t port) {
  link.log.print("ComPort closing port %d", port);
  link.serial.close(port);
}

std::int32_t txChar(LinkServices& link, std::int32_t port, std::uint8_t byte, std::int32_t& benchError) {
  const int status = link.serial.putByte(port, byte);
  if (status == 1) {
    if (byte == kAbort) ++link.abortsSent;
    return 1;
  }
  const int systemError = link.serial.lastSystemError();
  benchError = status;
  link.log.print("dorvane.dll txChar failed. stat= %d; winerror= %d", status, systemError);
  return 0;
}

std::int32_t txBytes(LinkServices& link, std::int32_t port, const std::uint8_t* bytes, std::int32_t count) {
  link.log.print("dorvane.dll.txBytes numBytes= %d", count);
  const int status = link.serial.putBlock(port, bytes, count);
  if (status == count) return 1;
  const int systemError = link.serial.lastSystemError();
  link.log.print("dorvane.dll txBytes failed. numBytes= %d; stat= %d; winerror= %d", count, status,
                 systemError);
  return 0;
}

namespace {

std::int32_t waitForByte(LinkServices& link, std::int32_t port, std::uint16_t limit, std::uint16_t& timeoutFlag,
                         bool watchStop) {
  timeoutFlag = 0;
  const platform::Deadline deadline(link.clock, std::uint32_t{limit} * 2000u);
  for (;;) {
    const int waiting = link.serial.receiveCount(port);
    if (waiting > 0) {
      const int got = link.serial.getByte(port);
      // SYNC bytes from the bench are idle fill: dropped, and they do not restart the wait.
      if (got >= 0 && static_cast<std::uint8_t>(got) != kSync) return static_cast<std::uint8_t>(got);
    }
    if (watchStop && link.stopRequested()) return -1;
    // A port that is gone (a negative count, or hung up) can never deliver: its wait ends at once.
    if (deadline.passed() || waiting < 0 ||
        (waiting == 0 && link.serial.waitForInput(port, 1, deadline.left()) == InputWait::hungUp)) {
      timeoutFlag = 1;
      return -1;
    }
  }
}

}  // namespace

std::int32_t rxChar(LinkServices& link, std::int32_t port, std::uint16_t limit, std::uint16_t& timeoutFlag) {
  return waitForByte(link, port, limit, timeoutFlag, false);
}

std::int32_t rxPacketStart(LinkServices& link, std::int32_t port, std::uint16_t limit, std::uint16_t& timeoutFlag) {
  return waitForByte(link, port, limit, timeoutFlag, true);
}

std::int32_t rxBytes(LinkServices& link, std::int32_t port, std::uint8_t* buffer, std::int32_t count,
                     std::uint16_t limit, std::uint16_t& timeoutFlag, std::int32_t& benchError) {
  timeoutFlag = 0;
  int waiting = link.serial.receiveCount(port);
  const platform::Deadline deadline(link.clock, std::uint32_t{limit} * 1000u);
  bool lineGone = waiting < 0;
  while (waiting < count) {
    waiting = link.serial.receiveCount(port);
    // The time is checked after the poll, so a time-out stands even when that poll saw enough.
    const std::uint32_t left = deadline.left();
    if (left == 0 || (waiting < count && (lineGone || waiting < 0))) {
      timeoutFlag = 1;
      link.log.print("rxBytes time out");
      return -1;
    }
    if (waiting < count) lineGone = link.serial.waitForInput(port, count, left) == InputWait::hungUp;
  }

  const int read = link.serial.readBlock(port, buffer, count);
  if (read == count) return 1;
  setError(link, benchError, readFailureCode(read, link.serial.lastSystemError(), benchError));
  link.log.print("rxBytes error %d", benchError);
  return 0;
}

void drainLine(LinkServices& link, std::int32_t port, std::uint32_t quietMs, std::uint32_t mostMs) {
  const platform::Deadline most(link.clock, mostMs);
  platform::Deadline quiet(link.clock, quietMs);
  while (!most.passed() && !quiet.passed()) {
    if (link.serial.receiveCount(port) > 0) {
      link.serial.clearReceiveQueue(port);
      quiet.restart();
    } else if (link.serial.waitForInput(port, 1, std::min(quiet.left(), most.left())) == InputWait::hungUp) {
      return;
    }
  }
}

void setError(LinkServices& link, std::int32_t& benchError, std::int32_t code) {
  benchError = code;
  link.log.print("setting error to %d %X", code, static_cast<unsigned>(code));
}

ComPort::ComPort(LinkServices& link, std::int32_t port, std::int32_t baud) : link_(link), port_(port) {
  link_.log.print("ComPort opening port %d; baud %d", port, baud);
  openResult_ = openPort(link_, port, baud);
  link_.log.print("ComPort valid = %d", valid() ? 1 : 0);
}

ComPort::~ComPort() {
  if (valid()) {
    closePort(link_, port_);
  } else {
    link_.log.print("ComPort closing port %d", port_);
  }
}

}  // namespace dorvane::link
