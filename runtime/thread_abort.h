// The serial layer and the clock as an abortable worker thread sees them. Until the thread's abort
// is raised they pass every call through; from then on every serial transfer and every wait fails
// at once and every sleep returns at once, so the thread's body runs to its end within
// milliseconds without being terminated. Opening, closing and the port status still pass through,
// so the body can close its port on the way out.
#pragma once

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/serial_port.h"

namespace dorvane::runtime {

// A long wait is cut into slices this long, so an abort raised meanwhile is seen promptly.
inline constexpr std::uint32_t kAbortCheckMs = 50;

class AbortableSerial final : public platform::SerialLibrary {
 public:
  AbortableSerial(platform::SerialLibrary& serial, const platform::Event& abort) : serial_(serial), abort_(abort) {}

  int reset(int port, int first, int second) override { return serial_.reset(port, first, second); }
  int lineParameters(int port, int parity, int stopBits, int dataBits) override {
    return serial_.lineParameters(port, parity, stopBits, dataBits);
  }
  int baud(int port, int rate) override { return serial_.baud(port, rate); }
  int flow(int port, int mode) override { return serial_.flow(port, mode); }
  int timeouts(int port, std::int32_t readInterval, std::int32_t readMultiplier, std::int32_t readConstant,
               std::int32_t writeMultiplier, std::int32_t writeConstant) override {
    return serial_.timeouts(port, readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant);
  }
  int receiveCount(int port) override { return aborted() ? platform::kSerialNotOpen : serial_.receiveCount(port); }
  int getByte(int port) override { return aborted() ? platform::kSerialNotOpen : serial_.getByte(port); }
  int readBlock(int port, std::uint8_t* buffer, int count) override {
    return aborted() ? platform::kSerialNotOpen : serial_.readBlock(port, buffer, count);
  }
  int putByte(int port, std::uint8_t byte) override {
    return aborted() ? platform::kSerialNotOpen : serial_.putByte(port, byte);
  }
  int putBlock(int port, const std::uint8_t* buffer, int count) override {
    return aborted() ? 0 : serial_.putBlock(port, buffer, count);
  }
  int clearReceiveQueue(int port) override { return serial_.clearReceiveQueue(port); }
  int portStatus(int port, int mask) override { return serial_.portStatus(port, mask); }
  int close(int port) override { return serial_.close(port); }
  platform::InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) override;
  int lastSystemError() override { return serial_.lastSystemError(); }

 private:
  bool aborted() const { return abort_.isSet(); }

  platform::SerialLibrary& serial_;
  const platform::Event& abort_;
};

class AbortableClock final : public platform::Clock {
 public:
  AbortableClock(platform::Clock& clock, const platform::Event& abort) : clock_(clock), abort_(abort) {}

  std::uint32_t tickCount() override { return clock_.tickCount(); }
  std::int64_t counterValue() override { return clock_.counterValue(); }
  std::int64_t counterFrequency() override { return clock_.counterFrequency(); }
  // Sleeps in slices on the given clock, so a virtual clock still drives the time.
  void sleep(std::uint32_t milliseconds) override;
  platform::WallTime wallTime() override { return clock_.wallTime(); }
  platform::CalendarTime localCalendar(std::int64_t secondsSinceEpoch) override {
    return clock_.localCalendar(secondsSinceEpoch);
  }

 private:
  platform::Clock& clock_;
  const platform::Event& abort_;
};

}  // namespace dorvane::runtime
