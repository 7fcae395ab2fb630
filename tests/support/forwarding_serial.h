// A serial layer that passes every call to the system's: a test overrides the calls it watches or
// holds up.
#pragma once

#include "platform/serial_port.h"

namespace dorvane::testing {

class ForwardingSerial : public platform::SerialLibrary {
 public:
  int reset(int port, int first, int second) override { return system_.reset(port, first, second); }
  int lineParameters(int port, int parity, int stopBits, int dataBits) override {
    return system_.lineParameters(port, parity, stopBits, dataBits);
  }
  int baud(int port, int rate) override { return system_.baud(port, rate); }
  int flow(int port, int mode) override { return system_.flow(port, mode); }
  int timeouts(int port, std::int32_t interval, std::int32_t multiplier, std::int32_t constant,
               std::int32_t writeMultiplier, std::int32_t writeConstant) override {
    return system_.timeouts(port, interval, multiplier, constant, writeMultiplier, writeConstant);
  }
  int receiveCount(int port) override { return system_.receiveCount(port); }
  int getByte(int port) override { return system_.getByte(port); }
  int readBlock(int port, std::uint8_t* buffer, int count) override { return system_.readBlock(port, buffer, count); }
  int putByte(int port, std::uint8_t byte) override { return system_.putByte(port, byte); }
  int putBlock(int port, const std::uint8_t* buffer, int count) override {
    return system_.putBlock(port, buffer, count);
  }
  int clearReceiveQueue(int port) override { return system_.clearReceiveQueue(port); }
  int portStatus(int port, int mask) override { return system_.portStatus(port, mask); }
  int close(int port) override { return system_.close(port); }
  platform::InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) override {
    return system_.waitForInput(port, count, timeoutMs);
  }
  int lastSystemError() override { return system_.lastSystemError(); }

 protected:
  platform::SerialLibrary& system_ = platform::systemSerialLibrary();
};

}  // namespace dorvane::testing
