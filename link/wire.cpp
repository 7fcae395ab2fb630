// Packet building and the checksum of the bench link.
#include "link/wire.h"

#include <algorithm>
#include <cstring>

#include "link/byte_order.h"

namespace dorvane::link {

std::uint16_t checksum(const std::uint8_t* bytes, std::size_t count) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
  return sum;
}

std::uint16_t packetCount(std::size_t length) {
  return static_cast<std::uint16_t>((length + kMaxPayload - 1) / kMaxPayload);
}

std::size_t buildFramePacket(std::uint8_t type, std::uint16_t count, std::uint8_t* out) {
  out[0] = type;
  putBE16(out + 1, count);
  putBE16(out + 3, checksum(out, 3));
  return kFramePacketSize;
}

std::size_t buildDataPacket(std::uint16_t number, const std::uint8_t* payload, std::uint16_t length,
                            std::uint8_t* out) {
  out[0] = kData;
  putBE16(out + 1, number);
  putBE16(out + 3, length);
  if (length != 0) std::memcpy(out + kPacketHeaderSize, payload, length);
  const std::size_t body = kPacketHeaderSize + length;
  putBE16(out + body, checksum(out, body));
  return body + kChecksumSize;
}

std::vector<std::vector<std::uint8_t>> framePackets(const std::vector<std::uint8_t>& message,
                                                    std::size_t payloadSize) {
  const auto count = static_cast<std::uint16_t>((message.size() + payloadSize - 1) / payloadSize);
  std::vector<std::vector<std::uint8_t>> packets;
  packets.reserve(count + 2u);
  packets.emplace_back(kFramePacketSize);
  buildFramePacket(kStx, count, packets.back().data());
  for (std::uint16_t number = 0; number < count; ++number) {
    const std::size_t offset = std::size_t{number} * payloadSize;
    const auto length = static_cast<std::uint16_t>(std::min(payloadSize, message.size() - offset));
    packets.emplace_back(kPacketHeaderSize + length + kChecksumSize);
    buildDataPacket(number, message.data() + offset, length, packets.back().data());
  }
  packets.emplace_back(kFramePacketSize);
  buildFramePacket(kEtx, count, packets.back().data());
  return packets;
}

}  // namespace dorvane::link
