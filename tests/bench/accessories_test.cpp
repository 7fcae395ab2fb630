// The accessory requests: the device list, the moves and what they send, the motors and RESET.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "bench/accessories.h"
#include "tests/bench/bench_fixture.h"

namespace dorvane::testing {
namespace {

using namespace bench;
using ::testing::ElementsAre;

class AccessoryTest : public BenchTest {
 protected:
  AccessoryTest() { always(command::transmitStatus, statusReply(0)); }

  // A device reply: `mask` in word 0, word n holding n x 1000 unless `words` says otherwise.
  static BenchReply devices(std::uint32_t mask, const std::map<std::size_t, std::uint32_t>& words = {},
                            std::size_t count = kDeviceReplyWords) {
    Bytes data;
    for (std::size_t n = 0; n < count; ++n) {
      appendBE(data, n == 0 ? mask : words.contains(n) ? words.at(n) : static_cast<std::uint32_t>(n * 1000), 4);
    }
    return replyOf(data);
  }
  static Bytes move(std::uint32_t mask, std::uint16_t first, std::uint16_t second, std::uint32_t parameter) {
    Bytes message{0x84, 0x88};
    appendBE(message, mask, 4);
    appendBE(message, first, 2);
    appendBE(message, second, 2);
    appendBE(message, parameter, 4);
    return message;
  }
};

TEST_F(AccessoryTest, GetDevicesTurnsEveryWordToHostOrderAndLogsIt) {
  queue(command::getDevices, devices(0x00060205, {{32, 0xFFFFFFFF}}));
  auto reply = std::make_unique<DeviceWords>();
  EXPECT_EQ(getDevices(link, kPort, *reply, benchError), 1);
  EXPECT_EQ(requests.at(0).message, (Bytes{0x84, 0x89}));
  EXPECT_EQ((*reply)[0], 0x00060205u);
  EXPECT_EQ((*reply)[19], 19000u);
  EXPECT_TRUE(logHas("sending GET DEVICES"));
  EXPECT_TRUE(logHas("device 0 = 393733 (0x60205)"));
  EXPECT_TRUE(logHas("device 19 = 19000 (0x4A38)"));
  EXPECT_TRUE(logHas("device 32 = 4294967295 (0xFFFFFFFF)"));
  const auto lines = logLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("device ", 0) == 0; }),
            33);

  // A longer reply keeps its first words; nothing lands past the buffer.
  queue(command::getDevices, devices(0x4, {}, 53));
  EXPECT_EQ(getDevices(link, kPort, *reply, benchError), 1);
  EXPECT_EQ((*reply)[0], 0x4u);
  EXPECT_EQ((*reply)[32], 32000u);

  EXPECT_EQ(getDevices(link, kPort, *reply, benchError), 0);  // no reply
}

TEST_F(AccessoryTest, MovesSendTheirParametersOnlyWhenTheAccessoryIsFitted) {
  for (int i = 0; i < 3; ++i) queue(command::getDevices, devices(0x00060000));
  EXPECT_EQ(moveIris(link, kPort, 50, tables, benchError), 1);
  EXPECT_EQ(moveShuttle(link, kPort, 1, tables, benchError), -1);
  EXPECT_EQ(moveBeamMirror(link, kPort, 1, tables, benchError), -1);
  EXPECT_THAT(commands(), ElementsAre(command::getDevices, command::getDevices, command::getDevices));
  EXPECT_TRUE(logHas("there is no iris"));
  EXPECT_TRUE(logHas("There is no shuttle"));
  EXPECT_TRUE(logHas("there is no beam mirror"));
  EXPECT_EQ(moveIris(link, kPort, 50, tables, benchError), 0);  // no device list: no move either
  EXPECT_EQ(count(command::moveDevice), 0);

  requests.clear();
  queue(command::getDevices, devices(0x1));
  EXPECT_EQ(moveIris(link, kPort, 50, tables, benchError), 1);
  EXPECT_THAT(commands(), ElementsAre(command::getDevices, command::moveDevice, command::transmitStatus));
  EXPECT_EQ(requests[1].message, move(0x1, 3, 5000, 0));
  EXPECT_TRUE(logHas("moveIris 50"));
  requests.clear();
  queue(command::getDevices, devices(0x1));
  EXPECT_EQ(moveIris(link, kPort, -1, tables, benchError), 1);
  EXPECT_EQ(requests.at(1).message, move(0x1, 3, 0xFF9C, 0));
  EXPECT_TRUE(logHas("moveIris -1"));
  EXPECT_EQ(clock.ticks, 6000u);  // only the missing device reply took time
}

TEST_F(AccessoryTest, ShuttleAndMirrorSettleTenSecondsBeforeTheWait) {
  struct Case {
    decltype(&moveShuttle) move;
    std::uint16_t position;
    std::uint32_t mask;
    const char* firstLine;
    const char* sleepLine;
  };
  const Case cases[] = {{moveShuttle, 3, 0x4, "moveShuttle 3", "moved shuttle, sleeping..."},
                        {moveBeamMirror, 65535, 0x200, "moveBeamMirror 65535", "moved mirror, sleeping..."}};
  for (const Case& c : cases) {
    requests.clear();
    queue(command::getDevices, devices(0x204));
    EXPECT_EQ(c.move(link, kPort, c.position, tables, benchError), 1);
    ASSERT_THAT(commands(), ElementsAre(command::getDevices, command::moveDevice, command::transmitStatus));
    EXPECT_EQ(requests[1].message, move(c.mask, c.position, 0, 1));
    EXPECT_EQ(requests[2].tick - requests[1].tick, kMirrorSettleMs);
    EXPECT_TRUE(logHas(c.firstLine));
    EXPECT_TRUE(logHas(c.sleepLine));
  }
}

TEST_F(AccessoryTest, MotorsReportThePositionsReadAfterTheMove) {
  const std::map<std::size_t, std::uint32_t> positions{{18, 555}, {19, 777}};
  queue(command::getDevices, devices(0x00060000, positions));
  EXPECT_EQ(moveMotor(link, kPort, 18, 0x12345, tables, benchError), 777);
  EXPECT_THAT(commands(), ElementsAre(command::transmitStatus, command::moveDevice, command::transmitStatus,
                                      command::getDevices));
  EXPECT_EQ(requests[1].message, move(0x00040000, 3, 0x2345, 2));
  requests.clear();
  queue(command::getDevices, devices(0x00060000, positions));
  EXPECT_EQ(moveMotor(link, kPort, 17, -2, tables, benchError), 555);
  EXPECT_EQ(requests.at(1).message, move(0x00020000, 3, 0xFFFE, 2));

  std::int32_t first = 0;
  std::int32_t second = 0;
  queue(command::getDevices, devices(0x00020000, positions));
  EXPECT_EQ(getMotorPositions(link, kPort, first, second, tables, benchError), 1);
  EXPECT_EQ(first, 555);
  EXPECT_EQ(second, -1);
  queue(command::getDevices, devices(0x00040000, positions));
  EXPECT_EQ(getMotorPositions(link, kPort, first, second, tables, benchError), 1);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, 777);
  EXPECT_EQ(getMotorPositions(link, kPort, first, second, tables, benchError), 0);  // no device reply
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);
}

TEST_F(AccessoryTest, ResetWaitsForTheBenchOnBothSides) {
  EXPECT_EQ(resetBench(link, kPort, tables, benchError), 1);
  EXPECT_THAT(commands(), ElementsAre(command::transmitStatus, command::reset, command::transmitStatus));
  EXPECT_EQ(requests[1].message, (Bytes{0x81, 0x80}));
  EXPECT_TRUE(logHas("sending RESET"));
}

}  // namespace
}  // namespace dorvane::testing
