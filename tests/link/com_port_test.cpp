// The serial port as the link uses it: the opening sequence, the ComPort scope, byte and block
// sends, and the two receives with their time limits and error mapping.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/com_port.h"
#include "tests/link/link_fixture.h"

namespace dorvane::testing {
namespace {

using ::testing::ElementsAre;
using ComPortTest = LinkTest;

TEST_F(ComPortTest, OpeningSetsDefaultsThenOpensWithQueuesHandshakeAndTimeouts) {
  EXPECT_EQ(link::openPort(link, kPort, 38400), 0);
  EXPECT_THAT(peer.calls, ElementsAre("reset(-1,1,1)", "lineParameters(-1,2,0,8)", "baud(-1,38400)",
                                      "reset(3,1024,1024)", "flow(3,72)", "timeouts(3,-1,0,0,1,2000)"));
  EXPECT_THAT(logLines(), ElementsAre("openPort 3 38400", "dorvane.dll open: SioReset", "dorvane.dll open: SioParms",
                                      "dorvane.dll open: SioBaud", "dorvane.dll open: SioReset",
                                      "dorvane.dll open: SioFlow", "dorvane.dll open: SioTImeouts"));
}

TEST_F(ComPortTest, FailedFlowReturnsItsCodeSkipsTimeoutsAndLeavesThePortOpen) {
  peer.fail("flow", -10);
  peer.systemError = 87;
  EXPECT_EQ(link::openPort(link, kPort, 9600), -10);
  EXPECT_EQ(peer.calls.back(), "flow(3,72)");
  EXPECT_EQ(logLines().back(), "error -10, winerr 87");
}

TEST_F(ComPortTest, FailedTimeoutSettingLogsTheCodeAlone) {
  peer.fail("timeouts", -101);
  EXPECT_EQ(link::openPort(link, kPort, 38400), -101);
  EXPECT_EQ(logLines().back(), "error -101");
}

TEST_F(ComPortTest, ScopeClosesOnlyWhatItOpenedButAlwaysLogsTheClosing) {
  {
    link::ComPort port(link, kPort, 19200);
    EXPECT_TRUE(port.valid());
  }
  EXPECT_EQ(peer.calls.back(), "close(3)");
  peer.calls.clear();
  peer.fail("reset", -1);  // the first reset, which sets the defaults
  {
    link::ComPort port(link, kPort, 19200);
    EXPECT_FALSE(port.valid());
    EXPECT_EQ(port.openResult(), -1);
  }
  EXPECT_THAT(peer.calls, ElementsAre("reset(-1,1,1)"));
  const auto lines = logLines();
  EXPECT_EQ(lines.front(), "ComPort opening port 3; baud 19200");
  EXPECT_EQ(logCount("ComPort valid = 1"), 1);
  EXPECT_EQ(logCount("ComPort valid = 0"), 1);
  EXPECT_EQ(logCount("ComPort closing port 3"), 2);
  EXPECT_EQ(lines.back(), "ComPort closing port 3");
}

TEST_F(ComPortTest, FailedByteSendOverwritesTheErrorWordButFailedBlockSendDoesNot) {
  benchError = -5;
  peer.fail("putByte", -103);
  peer.systemError = 5;
  EXPECT_EQ(link::txChar(link, kPort, link::kAck, benchError), 0);
  EXPECT_EQ(benchError, -103);
  EXPECT_EQ(logLines().back(), "dorvane.dll txChar failed. stat= -103; winerror= 5");

  const Bytes block{1, 2, 3, 4};
  peer.fail("putBlock", 2);
  EXPECT_EQ(link::txBytes(link, kPort, block.data(), 4), 0);
  EXPECT_EQ(benchError, -103);
  EXPECT_THAT(logLines(), ::testing::IsSupersetOf({"dorvane.dll.txBytes numBytes= 4",
                                                   "dorvane.dll txBytes failed. numBytes= 4; stat= 2; winerror= 5"}));
  EXPECT_EQ(link::txBytes(link, kPort, block.data(), 4), 1);
  EXPECT_EQ(peer.allSent(), block);
}

TEST_F(ComPortTest, ByteWaitOfLimitOneIsTwoSecondsNotOne) {
  std::uint16_t timeoutFlag = 7;
  EXPECT_EQ(link::rxChar(link, kPort, 1, timeoutFlag), -1);
  EXPECT_EQ(timeoutFlag, 1);
  EXPECT_EQ(clock.ticks, 2000u);
}

TEST_F(ComPortTest, SyncBytesAreDroppedWithoutRestartingTheWait) {
  std::uint16_t timeoutFlag = 0;
  peer.deliver({link::kSync}, 500);
  peer.deliver({link::kSync}, 1500);
  peer.deliver({link::kAck}, 1900);
  EXPECT_EQ(link::rxChar(link, kPort, 1, timeoutFlag), link::kAck);
  EXPECT_EQ(timeoutFlag, 0);
  EXPECT_EQ(clock.ticks, 1900u);

  for (std::uint32_t at = 100; at < 6000; at += 300) peer.deliver({link::kSync}, at);
  const std::uint32_t start = clock.ticks;
  EXPECT_EQ(link::rxChar(link, kPort, 1, timeoutFlag), -1);
  EXPECT_EQ(timeoutFlag, 1);
  EXPECT_EQ(clock.ticks - start, 2000u);
}

TEST_F(ComPortTest, ByteWaitMeasuresAcrossTheTickCountWrap) {
  clock.ticks = 0xFFFFFC18u;  // 1000 ms before the wrap
  std::uint16_t timeoutFlag = 0;
  EXPECT_EQ(link::rxChar(link, kPort, 1, timeoutFlag), -1);
  EXPECT_EQ(clock.ticks, 1000u);
}

TEST_F(ComPortTest, BlockReadTimesOutAfterOneSecondWhenBytesAreMissing) {
  benchError = -9;
  std::uint16_t timeoutFlag = 0;
  std::uint8_t buffer[4] = {};
  peer.deliver({1, 2, 3}, 200);
  EXPECT_EQ(link::rxBytes(link, kPort, buffer, 4, 1, timeoutFlag, benchError), -1);
  EXPECT_EQ(timeoutFlag, 1);
  EXPECT_EQ(benchError, -9);
  EXPECT_EQ(clock.ticks, 1000u);
  EXPECT_EQ(logLines().back(), "rxBytes time out");
}

TEST_F(ComPortTest, BlockReadChecksTheTimeAfterThePollEvenWhenEnoughArrived) {
  std::uint16_t timeoutFlag = 0;
  std::uint8_t buffer[4] = {};
  peer.deliver({1, 2, 3, 4}, 2000);
  EXPECT_EQ(link::rxBytes(link, kPort, buffer, 4, 2, timeoutFlag, benchError), -1);
  EXPECT_EQ(timeoutFlag, 1);

  peer.deliver({5, 6, 7, 8}, 1999);
  EXPECT_EQ(link::rxBytes(link, kPort, buffer, 4, 2, timeoutFlag, benchError), 1);
  EXPECT_EQ(timeoutFlag, 0);
}

TEST_F(ComPortTest, FailedBlockReadMapsResultAndSystemErrorToTheErrorWord) {
  struct Row {
    int readResult;
    int systemError;
    std::int32_t expected;
  };
  const Row rows[] = {{-3, 0, -16},  {-1, 0, -17},  {2, 1, -8},    {2, 2, -9},   {2, 4, -10}, {2, 8, -11},
                      {2, 16, -12},  {2, 256, -13}, {2, 32768, -14}, {2, 3, -15}, {0, 5, -15}, {2, 0, -42}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "read " << row.readResult << ", system error " << row.systemError);
    benchError = -42;
    peer.deliver({9, 9, 9, 9});
    peer.fail("readBlock", row.readResult);
    peer.systemError = row.systemError;
    std::uint16_t timeoutFlag = 0;
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(link::rxBytes(link, kPort, buffer, 4, 1, timeoutFlag, benchError), 0);
    EXPECT_EQ(benchError, row.expected);
    const auto lines = logLines();
    char setting[64];
    std::snprintf(setting, sizeof setting, "setting error to %d %X", row.expected, static_cast<unsigned>(row.expected));
    EXPECT_EQ(lines[lines.size() - 2], setting);
    EXPECT_EQ(lines.back(), "rxBytes error " + std::to_string(row.expected));
    peer.clearReceiveQueue(kPort);
  }
  EXPECT_EQ(logCount("setting error to -16 FFFFFFF0"), 1);
}

TEST_F(ComPortTest, HungUpLineEndsEveryWaitAtOnce) {
  peer.hungUp = true;
  std::uint16_t timeoutFlag = 0;
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(link::rxChar(link, kPort, 1, timeoutFlag), -1);
  EXPECT_EQ(timeoutFlag, 1);
  EXPECT_EQ(link::rxBytes(link, kPort, buffer, 4, 2, timeoutFlag, benchError), -1);
  EXPECT_EQ(timeoutFlag, 1);
  EXPECT_EQ(clock.ticks, 0u);

  // What arrived before the hang-up is still read.
  peer.deliver({0x41});
  EXPECT_EQ(link::rxChar(link, kPort, 1, timeoutFlag), 0x41);
}

}  // namespace
}  // namespace dorvane::testing
