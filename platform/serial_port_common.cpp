// The serial layer's part that is the same on every system: the table of open ports, the settings
// for the ports opened later, and the checks each call makes before it reaches the device
// (serial_device.h, one implementation per system).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/mutex.h"
#include "platform/serial_device.h"
#include "platform/serial_port.h"
#include "platform/serial_queue.h"

namespace dorvane::platform {
namespace {

constexpr int kPortCount = 256;

bool validPort(int port) { return port >= 0 && port < kPortCount; }

// A block call's buffer must be there whenever it is to hold a byte.
bool validBlock(const std::uint8_t* buffer, int count) {
  return count >= 0 && (count == 0 || buffer != nullptr);
}

class SystemSerialLibrary final : public SerialLibrary {
 public:
  int reset(int port, int first, int second) override {
    if (port == -1) {
      ScopedLock lock(tableMutex_);
      defaults_.dtr = first != 0;
      defaults_.rts = second != 0;
      return 0;
    }
    if (!validPort(port)) return kSerialBadPort;
    if (first <= 0 || second <= 0) return kSerialRange;

    ScopedLock lock(tableMutex_);
    closeHeld(port);
    return serial_device::open(port, static_cast<std::size_t>(first),
                               static_cast<std::size_t>(second), defaults_, ports_[port]);
  }

  int lineParameters(int port, int parity, int stopBits, int dataBits) override {
    if (port != -1 && !validPort(port)) return kSerialBadPort;
    if (!isBenchFormat(parity, stopBits, dataBits)) return kSerialByteSize;
    // The bench's format is the only one, and every opening already sets it.
    if (port != -1 && !find(port)) return kSerialNotOpen;
    return 0;
  }

  int baud(int port, int rate) override {
    if (port != -1 && !validPort(port)) return kSerialBadPort;
    if (!serial_device::offersRate(rate)) return kSerialBaudRate;
    if (port == -1) {
      ScopedLock lock(tableMutex_);
      defaults_.rate = rate;
      return 0;
    }
    return onOpenPort(port, [rate](serial_device::Port& state) {
      return serial_device::setBaud(state, rate);
    });
  }

  int flow(int port, int mode) override {
    return onOpenPort(port, [mode](serial_device::Port& state) {
      if (mode != kFlowHardware && mode != kFlowNone) return kSerialRange;
      return serial_device::setFlow(state, mode);
    });
  }

  int timeouts(int port, std::int32_t, std::int32_t, std::int32_t, std::int32_t writeMultiplier,
               std::int32_t writeConstant) override {
    // Reads never block here (waitForInput is the way to wait), so only the write time-outs
    // matter.
    return onOpenPort(port, [writeMultiplier, writeConstant](serial_device::Port& state) {
      return serial_device::setWriteTimeouts(state, writeMultiplier, writeConstant);
    });
  }

  int receiveCount(int port) override { return onOpenPort(port, serial_device::receiveCount); }

  int getByte(int port) override { return onOpenPort(port, serial_device::getByte); }

  int readBlock(int port, std::uint8_t* buffer, int count) override {
    // A short read with no failure behind it must not report a stale error.
    serial_device::clearLastError();
    if (!validPort(port)) return kSerialBadPort;
    if (!validBlock(buffer, count)) return kSerialRange;
    return onOpenPort(port, [buffer, count](serial_device::Port& state) {
      return serial_device::readBlock(state, buffer, count);
    });
  }

  int putByte(int port, std::uint8_t byte) override {
    const int written = putBlock(port, &byte, 1);
    if (written < 0) return written;  // a bad port or one not open
    return written == 1 ? 1 : kSerialSystemError;
  }

  int putBlock(int port, const std::uint8_t* buffer, int count) override {
    if (!validPort(port)) return kSerialBadPort;
    if (!validBlock(buffer, count)) return kSerialRange;
    return onOpenPort(port, [buffer, count](serial_device::Port& state) {
      return serial_device::putBlock(state, buffer, count);
    });
  }

  int clearReceiveQueue(int port) override {
    return onOpenPort(port, serial_device::clearReceiveQueue);
  }

  int portStatus(int port, int mask) override {
    return onOpenPort(port, [mask](serial_device::Port& state) {
      return serial_device::portStatus(state, mask);
    });
  }

  int close(int port) override {
    if (!validPort(port)) return kSerialBadPort;
    ScopedLock lock(tableMutex_);
    return closeHeld(port) ? 0 : kSerialNotOpen;
  }

  InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) override {
    // A port that is not there will never send anything.
    if (!validPort(port)) return InputWait::hungUp;
    const std::shared_ptr<serial_device::Port> state = find(port);
    if (!state) return InputWait::hungUp;
    return serial_device::waitForInput(*state, count, timeoutMs);
  }

  int lastSystemError() override { return serial_device::lastError(); }

 private:
  std::shared_ptr<serial_device::Port> find(int port) {
    ScopedLock lock(tableMutex_);
    return ports_[port];
  }

  // Runs `call` on port `port` when the number is valid and the port open; otherwise the code that
  // says which of the two it is not.
  template <class Call>
  int onOpenPort(int port, Call call) {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<serial_device::Port> state = find(port);
    if (!state) return kSerialNotOpen;
    return call(*state);
  }

  // Closes port `port` if it is open; the caller holds the table's lock. A call still under way
  // keeps the state until it ends.
  bool closeHeld(int port) {
    if (!ports_[port]) return false;
    serial_device::shutDown(*ports_[port]);
    ports_[port].reset();
    return true;
  }

  Mutex tableMutex_;  // guards ports_ and defaults_
  std::array<std::shared_ptr<serial_device::Port>, kPortCount> ports_;
  serial_device::Defaults defaults_;
};

}  // namespace

SerialLibrary& systemSerialLibrary() {
  static SystemSerialLibrary library;
  return library;
}

}  // namespace dorvane::platform
