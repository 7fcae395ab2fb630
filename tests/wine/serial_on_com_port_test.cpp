// The Win32 serial layer on a real COM port: under Wine, one that Wine maps to the virtual bench's
// pseudo-terminal. DORVANE_TEST_COM names the port's number (COM<n>); the bench answers requests
// and never speaks unasked, so without a request the line is silent.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bench/requests.h"
#include "link/com_port.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "runtime/log_file.h"

namespace dorvane {
namespace {

using platform::InputWait;

class SerialOnComPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* number = std::getenv("DORVANE_TEST_COM");
    if (number == nullptr) GTEST_SKIP() << "DORVANE_TEST_COM names no COM port";
    port_ = std::atoi(number) - 1;
    ASSERT_EQ(link::openPort(services_, port_, 38400), 0) << "COM" << number;
  }
  void TearDown() override {
    if (port_ >= 0) serial().close(port_);
  }

  static platform::SerialLibrary& serial() { return platform::systemSerialLibrary(); }
  static std::uint32_t now() { return platform::systemClock().tickCount(); }

  std::int32_t port_ = -1;
  // No log: its path would name a module that has no folder.
  runtime::LogFile log_{platform::systemClock(), [] { return std::string(); }};
  link::LinkServices services_{serial(), platform::systemClock(), log_};
};

TEST_F(SerialOnComPort, ASilentLineTimesOutAtTheLimitAndNotBefore) {
  std::uint32_t start = now();
  EXPECT_EQ(serial().waitForInput(port_, 1, 300), InputWait::timedOut);
  EXPECT_GE(now() - start, 300u);
  EXPECT_EQ(serial().receiveCount(port_), 0);
  EXPECT_EQ(serial().getByte(port_), platform::kSerialNoData);

  // The link's own limit: one round of 2000 ms on the driver's tick count.
  std::uint16_t timedOut = 0;
  start = now();
  EXPECT_EQ(link::rxChar(services_, port_, 1, timedOut), -1);
  EXPECT_EQ(timedOut, 1);
  EXPECT_GE(now() - start, 2000u);
}

TEST_F(SerialOnComPort, ARequestAndItsReplyCrossTheLine) {
  bench::StatusTables tables;
  std::uint16_t status = 0;
  std::uint16_t srq = 0;
  std::int32_t benchError = 0;
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(bench::transmitStatus(services_, port_, status, srq, tables, benchError), 1) << "round " << round;
  }
  EXPECT_EQ(benchError, 0);
  EXPECT_EQ(serial().receiveCount(port_), 0) << "no byte was left over";
}

// The wait is far longer than the program's bound in the Wine stage, so a close that does not end
// it fails the stage without a guess at how soon it should have ended.
TEST_F(SerialOnComPort, ACloseFromAnotherThreadEndsAWait) {
  std::atomic<int> outcome{-1};
  platform::Thread waiter;
  ASSERT_TRUE(waiter.start(
      [&] {
        outcome = static_cast<int>(serial().waitForInput(port_, 1, 3600000));
        return 0u;
      },
      platform::ThreadPriority::normal));
  // Windows shows no cheap sign of a thread blocked in its wait: this pause lets it get there. Were
  // it too short, the close would come first and the wait would still end at once as hungUp (the
  // port is closed), so the test would pass having checked less, never fail.
  platform::systemClock().sleep(300);
  EXPECT_EQ(serial().close(port_), 0);
  waiter.join();
  port_ = -1;
  EXPECT_EQ(outcome, static_cast<int>(InputWait::hungUp));
}

TEST(SerialComPortNames, APortThatDoesNotExistIsNoSuchPort) {
  // COM200: no machine and no Wine prefix has one.
  EXPECT_EQ(platform::systemSerialLibrary().reset(199, 1024, 1024), platform::kSerialBadPort);
  EXPECT_EQ(platform::systemSerialLibrary().receiveCount(199), platform::kSerialNotOpen);
}

}  // namespace
}  // namespace dorvane
