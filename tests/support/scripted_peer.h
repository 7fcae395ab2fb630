// A serial line whose far end is a script: the test says what the bench sends and when, and in
// answer to which of the driver's sends; every wait jumps the virtual clock to the next scripted
// byte or to its own end, so six seconds of protocol time pass in microseconds.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "tests/support/virtual_clock.h"

namespace dorvane::testing {

using Bytes = std::vector<std::uint8_t>;

class ScriptedPeer : public platform::SerialLibrary {
 public:
  explicit ScriptedPeer(VirtualClock& clock) : clock_(clock) {}

  // One send of the driver (a block or a single byte), with the tick it went out at.
  struct Sent {
    std::uint32_t tick;
    Bytes bytes;
  };
  // What the driver sent, in order.
  std::vector<Sent> sent;
  // Ticks at which the driver cleared its receive queue, and how many bytes each threw away.
  std::vector<std::pair<std::uint32_t, std::size_t>> clears;
  // The serial calls made, one line each, e.g. "reset(-1,1,1)" or "flow(3,72)".
  std::vector<std::string> calls;

  // Bytes reaching the driver's receive queue `afterMs` from now.
  void deliver(const Bytes& bytes, std::uint32_t afterMs = 0);
  // The next send of the driver is answered with `bytes` after `afterMs` (an empty answer is
  // silence). Answers are used in order, one per send; once they run out the peer is silent.
  void answer(const Bytes& bytes, std::uint32_t afterMs = 0);
  // The next send of the driver runs `reaction` (which may deliver bytes) instead of an answer.
  void react(std::function<void(ScriptedPeer&, const Bytes& sent)> reaction);

  // Failures to play: a result for the named call ("reset", "lineParameters", "baud", "flow",
  // "timeouts", "putByte", "putBlock", "readBlock") in place of its normal one, and the system
  // error that lastSystemError reports.
  void fail(const std::string& call, int result) { failures_.push_back({call, result}); }
  int systemError = 0;
  // The far end is gone: waits end at once with hungUp.
  bool hungUp = false;

  // Every byte the driver sent, joined.
  Bytes allSent() const;

  int reset(int port, int first, int second) override;
  int lineParameters(int port, int parity, int stopBits, int dataBits) override;
  int baud(int port, int rate) override;
  int flow(int port, int mode) override;
  int timeouts(int port, std::int32_t readInterval, std::int32_t readMultiplier, std::int32_t readConstant,
               std::int32_t writeMultiplier, std::int32_t writeConstant) override;
  int receiveCount(int port) override;
  int getByte(int port) override;
  int readBlock(int port, std::uint8_t* buffer, int count) override;
  int putByte(int port, std::uint8_t byte) override;
  int putBlock(int port, const std::uint8_t* buffer, int count) override;
  int clearReceiveQueue(int port) override;
  int portStatus(int port, int mask) override;
  int close(int port) override;
  platform::InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) override;
  int lastSystemError() override { return systemError; }

 private:
  struct Delivery {
    std::uint32_t tick;
    Bytes bytes;
  };
  std::optional<int> failure(const std::string& call);
  void record(const Bytes& bytes);
  // Moves every delivery that is due by now into the receive queue.
  void arrive();

  VirtualClock& clock_;
  std::deque<std::uint8_t> queue_;
  std::vector<Delivery> pending_;  // sorted by tick
  std::deque<std::function<void(ScriptedPeer&, const Bytes&)>> reactions_;
  std::vector<std::pair<std::string, int>> failures_;
};

}  // namespace dorvane::testing
