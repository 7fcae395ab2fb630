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

std::vector<Bytes> dataBlockPackets(const Bytes& header, const Bytes& points, std::size_t chunk) {
  std::vector<Bytes> data{join({0x00, 0x01}, header)};
  for (std::size_t at = 0; at < points.size(); at += chunk) {
    data.emplace_back(points.begin() + static_cast<long>(at),
                      points.begin() + static_cast<long>(std::min(points.size(), at + chunk)));
  }
  const auto count = static_cast<std::uint16_t>(data.size());
  std::vector<Bytes> packets{stxPacket(count)};
  for (std::uint16_t i = 0; i < count; ++i) packets.push_back(dataPacket(i, data[i]));
  packets.push_back(etxPacket(count));
  return packets;
}

void appendBE(Bytes& bytes, std::uint32_t value, int size) {
  for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
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
