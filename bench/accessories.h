// The accessory requests: which devices are fitted, moving the iris, shuttle, beam mirror and the
// two motors, reading the motors' positions, and RESET. A missing accessory is no error: the move
// says so by its result and sends nothing.
#pragma once

#include <array>
#include <cstdint>

#include "bench/requests.h"

namespace dorvane::bench {

// The device reply: word 0 the mask of fitted devices, word n + 1 the position of device n.
inline constexpr std::size_t kDeviceWords = 37;  // the 33 words of a reply, with room to spare
inline constexpr std::size_t kDeviceReplyWords = 33;
using DeviceWords = std::array<std::uint32_t, kDeviceWords>;

namespace device {
inline constexpr int iris = 0;
inline constexpr int shuttle = 2;
inline constexpr int beamMirror = 9;
inline constexpr int firstMotor = 17;
inline constexpr int secondMotor = 18;
}  // namespace device

// How long a shuttle or beam mirror move sleeps before waiting for the bench.
inline constexpr std::uint32_t kMirrorSettleMs = 10000;

std::int32_t getDevices(link::LinkServices& link, std::int32_t port, DeviceWords& words, std::int32_t& benchError);
std::int32_t moveDevice(link::LinkServices& link, std::int32_t port, int device, std::uint16_t first,
                        std::uint16_t second, std::uint32_t parameter, std::int32_t& benchError);
std::int32_t moveIris(link::LinkServices& link, std::int32_t port, std::int16_t aperture, StatusTables& tables,
                      std::int32_t& benchError);
std::int32_t moveShuttle(link::LinkServices& link, std::int32_t port, std::uint16_t position, StatusTables& tables,
                         std::int32_t& benchError);
std::int32_t moveBeamMirror(link::LinkServices& link, std::int32_t port, std::uint16_t position,
                            StatusTables& tables, std::int32_t& benchError);
// The motor's position after the move, 0 on failure.
std::int32_t moveMotor(link::LinkServices& link, std::int32_t port, int device, std::int32_t steps,
                       StatusTables& tables, std::int32_t& benchError);
std::int32_t getMotorPositions(link::LinkServices& link, std::int32_t port, std::int32_t& first,
                               std::int32_t& second, StatusTables& tables, std::int32_t& benchError);
std::int32_t resetBench(link::LinkServices& link, std::int32_t port, StatusTables& tables, std::int32_t& benchError);

}  // namespace dorvane::bench
