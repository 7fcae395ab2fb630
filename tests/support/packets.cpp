// The packet builders of the tests.
#include "tests/support/packets.h"

#include <algorithm>

#include "link/byte_order.h"

namespace dorvane::testing {

Bytes stxPacket(std::uint16_t count) {
  Bytes packet(link::kFramePacketSize);
  link::buildFramePacket(link::kStx, count, packet.data());
  return packet;
}

Bytes etxPacket(std::uint16_t count) {
  Bytes packet(link::kFramePacketSize);
  link::buildFramePacket(link::kEtx, count, packet.data());
  return packet;
}

Bytes dataPacket(std::uint16_t number, const Bytes& payload) {
  Bytes packet(link::kPacketHeaderSize + payload.size() + link::kChecksumSize);
  link::buildDataPacket(number, payload.data(), static_cast<std::uint16_t>(payload.size()), packet.data());
  return packet;
}

std::vector<Bytes> messagePackets(const Bytes& message, std::size_t payloadSize) {
  return link::framePackets(message, payloadSize);
}

Bytes join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Bytes counting(std::size_t length, std::uint8_t first) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>((first + i) % 251);
  return bytes;
}

bool checksumOk(const Bytes& packet) {
  if (packet.size() < link::kFramePacketSize) return false;
  const std::size_t body = packet.size() - link::kChecksumSize;
  return link::getBE16(packet.data() + body) == link::checksum(packet.data(), body);
}

}  // namespace dorvane::testing
