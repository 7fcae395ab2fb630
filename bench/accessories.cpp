// GET DEVICES, MOVE DEVICE and the moves built on it, the motor positions, and RESET.
#include "bench/accessories.h"

#include "link/byte_order.h"
#include "link/message.h"

namespace dorvane::bench {
namespace {

constexpr std::uint32_t maskOf(int device) { return 1u << device; }

// The shuttle and the beam mirror move the same way: the position, then a long settling sleep.
struct PositionedDevice {
  int device;
  const char* moveLine;     // with the position
  const char* missingLine;  // when the bench has none
  const char* sleepLine;
};

std::int32_t movePositioned(link::LinkServices& link, std::int32_t port, const PositionedDevice& what,
                            std::uint16_t position, StatusTables& tables, std::int32_t& benchError) {
  link.log.print(what.moveLine, static_cast<unsigned>(position));
  DeviceWords words{};
  if (getDevices(link, port, words, benchError) != 1) return 0;
  if ((words[0] & maskOf(what.device)) == 0) {
    link.log.print("%s", what.missingLine);
    return -1;
  }
  if (moveDevice(link, port, what.device, position, 0, 1, benchError) != 1) return 0;
  link.log.print("%s", what.sleepLine);
  link.clock.sleep(kMirrorSettleMs);
  waitForBench(link, port, 0, tables, benchError);
  return 1;
}

}  // namespace

std::int32_t getDevices(link::LinkServices& link, std::int32_t port, DeviceWords& words, std::int32_t& benchError) {
  std::uint16_t srqCount = 0;  // nobody reads this request's SRQ count
  link.log.print("sending GET DEVICES");
  if (link::txCommand(link, port, command::getDevices, srqCount, benchError) != 1) return 0;
  std::uint8_t reply[kDeviceWords * 4] = {};  // words the reply does not reach read 0
  std::int32_t length = 0;
  if (link::rxMessage(link, port, reply, sizeof reply, length, srqCount, benchError) != 1) return 0;
  for (std::size_t i = 0; i < kDeviceWords; ++i) {
    words[i] = link::getBE32(reply + i * 4);
    if (i < kDeviceReplyWords) {
      link.log.print("device %d = %u (0x%X)", static_cast<int>(i), words[i], words[i]);
    }
  }
  return 1;
}

std::int32_t moveDevice(link::LinkServices& link, std::int32_t port, int device, std::uint16_t first,
                        std::uint16_t second, std::uint32_t parameter, std::int32_t& benchError) {
  if (device < 0 || device > 31) return 0;  // the mask has one bit per device
  std::uint8_t message[14];
  link::putBE16(message, command::moveDevice);
  link::putBE32(message + 2, maskOf(device));
  link::putBE16(message + 6, first);
  link::putBE16(message + 8, second);
  link::putBE32(message + 10, parameter);
  std::uint16_t srqCount = 0;
  return link::txMessage(link, port, message, sizeof message, srqCount, benchError) == 1 ? 1 : 0;
}

std::int32_t moveIris(link::LinkServices& link, std::int32_t port, std::int16_t aperture, StatusTables& tables,
                      std::int32_t& benchError) {
  link.log.print("moveIris %d", aperture);
  DeviceWords words{};
  if (getDevices(link, port, words, benchError) != 1) return 0;
  if ((words[0] & maskOf(device::iris)) == 0) {
    link.log.print("there is no iris");
    return 1;
  }
  const auto hundredths = static_cast<std::uint16_t>(aperture * 100);
  if (moveDevice(link, port, device::iris, 3, hundredths, 0, benchError) != 1) return 0;
  waitForBench(link, port, 0, tables, benchError);
  return 1;
}

std::int32_t moveShuttle(link::LinkServices& link, std::int32_t port, std::uint16_t position, StatusTables& tables,
                         std::int32_t& benchError) {
  static constexpr PositionedDevice kShuttle{device::shuttle, "moveShuttle %d", "There is no shuttle",
                                             "moved shuttle, sleeping..."};
  return movePositioned(link, port, kShuttle, position, tables, benchError);
}

std::int32_t moveBeamMirror(link::LinkServices& link, std::int32_t port, std::uint16_t position,
                            StatusTables& tables, std::int32_t& benchError) {
  static constexpr PositionedDevice kBeamMirror{device::beamMirror, "moveBeamMirror %d", "there is no beam mirror",
                                                "moved mirror, sleeping..."};
  return movePositioned(link, port, kBeamMirror, position, tables, benchError);
}

std::int32_t moveMotor(link::LinkServices& link, std::int32_t port, int device, std::int32_t steps,
                       StatusTables& tables, std::int32_t& benchError) {
  waitForBench(link, port, 0, tables, benchError);
  if (moveDevice(link, port, device, 3, static_cast<std::uint16_t>(steps), 2, benchError) != 1) return 0;
  waitForBench(link, port, 0, tables, benchError);
  DeviceWords words{};
  if (getDevices(link, port, words, benchError) != 1) return 0;
  return static_cast<std::int32_t>(words[static_cast<std::size_t>(device) + 1]);
}

std::int32_t getMotorPositions(link::LinkServices& link, std::int32_t port, std::int32_t& first,
                               std::int32_t& second, StatusTables& tables, std::int32_t& benchError) {
  first = -1;
  second = -1;
  DeviceWords words{};
  waitForBench(link, port, 0, tables, benchError);
  if (getDevices(link, port, words, benchError) != 1) return 0;
  if ((words[0] & maskOf(device::firstMotor)) != 0) first = static_cast<std::int32_t>(words[device::firstMotor + 1]);
  if ((words[0] & maskOf(device::secondMotor)) != 0) {
    second = static_cast<std::int32_t>(words[device::secondMotor + 1]);
  }
  return 1;
}

std::int32_t resetBench(link::LinkServices& link, std::int32_t port, StatusTables& tables, std::int32_t& benchError) {
  waitForBench(link, port, 0, tables, benchError);
  link.log.print("sending RESET");
  std::uint16_t srqCount = 0;
  const std::int32_t sent = link::txCommand(link, port, command::reset, srqCount, benchError);
  waitForBench(link, port, 0, tables, benchError);
  return sent;
}

}  // namespace dorvane::bench
