// The link over a real pseudo-terminal against the virtual bench: messages out and replies back
// through the operating system's serial layer, with the bench's faults on.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>

#include "link/message.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"
#include "sim/bench_link.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/forwarding_serial.h"
#include "tests/support/test_support.h"

namespace dorvane::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The bench answers every request with the request itself behind a leading word.
std::optional<Bytes> echo(const Bytes& request) {
  Bytes reply{0x00, 0x01};
  reply.insert(reply.end(), request.begin(), request.end());
  return reply;
}

// The system's serial layer, keeping how each wait for input ended.
class WaitRecordingSerial final : public ForwardingSerial {
 public:
  platform::InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) override {
    waits.push_back(system_.waitForInput(port, count, timeoutMs));
    return waits.back();
  }

  std::vector<platform::InputWait> waits;
};

class RoundTrip : public ::testing::Test {
 protected:
  static constexpr std::int32_t kPort = 47;  // DORVANE_COM48

  explicit RoundTrip(sim::BenchLinkOptions options = {}) : bench(pty.masterFd(), echo, options) {
    setenv("DORVANE_COM48", pty.slavePath().c_str(), 1);
  }
  ~RoundTrip() override {
    bench.stop();
    platform::systemSerialLibrary().close(kPort);
  }

  // Sends `message` and receives the bench's echo of it.
  std::int32_t exchange(const Bytes& message, Bytes& reply) {
    const std::int32_t sent = link::txMessage(services, kPort, message.data(),
                                              static_cast<std::uint16_t>(message.size()), srqCount, benchError);
    if (sent != 1) return sent;
    reply.assign(65536, 0);
    std::int32_t length = 0;
    const std::int32_t received =
        link::rxMessage(services, kPort, reply.data(), reply.size(), length, srqCount, benchError);
    reply.resize(received == 1 ? static_cast<std::size_t>(length) : 0);
    return received;
  }

  sim::PseudoTerminal pty;
  sim::BenchLink bench;
  ScratchDirectory scratch;
  runtime::LogFile log{platform::systemClock(), [this] { return (scratch.path() / "libdorvane.so").string(); }};
  WaitRecordingSerial serial;
  link::LinkServices services{serial, platform::systemClock(), log};
  std::int32_t benchError = 0;
  std::uint16_t srqCount = 0;
};

TEST_F(RoundTrip, CleanLineDeliversEveryMessageIntact) {
  bench.start();
  ASSERT_EQ(link::openPort(services, kPort, 38400), 0);
  std::mt19937 random(7);
  for (const std::size_t length : {1u, 2u, 239u, 240u, 241u, 480u, 1000u, 4000u}) {
    Bytes message(length);
    for (auto& byte : message) byte = static_cast<std::uint8_t>(random());
    Bytes reply;
    ASSERT_EQ(exchange(message, reply), 1) << length << " bytes";
    EXPECT_EQ(reply, message) << length << " bytes";
  }
  EXPECT_EQ(benchError, 0);
}

TEST_F(RoundTrip, RecoverableFaultsNeverCorruptOrLoseAMessage) {
  // Silences cost the driver two seconds each, so they are rarer than the instant faults.
  sim::FaultOdds odds = sim::FaultOdds::recoverable(0.06);
  odds.silence = 0.01;
  bench.faults().randomize(20261207, odds);
  bench.sendSrq(3);
  bench.start();
  ASSERT_EQ(link::openPort(services, kPort, 38400), 0);
  std::mt19937 random(11);
  for (int i = 0; i < 40; ++i) {
    Bytes message(1 + random() % 900);
    for (auto& byte : message) byte = static_cast<std::uint8_t>(random());
    Bytes reply;
    ASSERT_EQ(exchange(message, reply), 1) << "message " << i << ", error word " << benchError;
    ASSERT_EQ(reply, message) << "message " << i;
  }
  EXPECT_GT(bench.faults().applied().size(), 10u);
  EXPECT_EQ(benchError, 0);
}

TEST_F(RoundTrip, BenchThatVanishesFailsTheSendAtOnce) {
  bench.start();
  ASSERT_EQ(link::openPort(services, kPort, 38400), 0);
  Bytes reply;
  ASSERT_EQ(exchange(Bytes{0x80, 0x90}, reply), 1);
  bench.stop();
  pty.close();

  serial.waits.clear();
  const Bytes message{0x80, 0x82, 0, 0, 0, 1};
  EXPECT_NE(link::txMessage(services, kPort, message.data(), 6, srqCount, benchError), 1);
  EXPECT_NE(benchError, 0);
  std::int32_t length = 0;
  reply.assign(64, 0);
  EXPECT_NE(link::rxMessage(services, kPort, reply.data(), reply.size(), length, srqCount, benchError), 1);
  // A dead line is never waited on: every wait the link began ended at once as a hang-up, none ran
  // out its time, and none was tried again (at most one for each of the two calls).
  EXPECT_EQ(std::count(serial.waits.begin(), serial.waits.end(), platform::InputWait::hungUp),
            static_cast<std::ptrdiff_t>(serial.waits.size()));
  EXPECT_LE(serial.waits.size(), 2u);
}

}  // namespace
}  // namespace dorvane::testing
