// The packet decoder on any bytes: fed one byte at a time and in chunks of a size the input picks,
// it must tell the same events with the same packets, never store past the buffer, and keep only
// what a packet declared.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/packet_decoder.h"

namespace {

using dorvane::link::DecodedPacket;
using dorvane::link::DecodeEvent;
using dorvane::link::PacketDecoder;

struct Seen {
  DecodeEvent event;
  DecodedPacket packet;
  std::vector<std::uint8_t> kept;
};

void check(bool holds) {
  if (!holds) std::abort();
}

std::vector<Seen> decode(const std::uint8_t* bytes, std::size_t size, std::size_t capacity, std::size_t cut) {
  // Exactly the capacity, so AddressSanitizer sees any store past it.
  std::vector<std::uint8_t> buffer(capacity);
  PacketDecoder decoder(buffer.data(), buffer.size());
  std::vector<Seen> seen;
  for (std::size_t at = 0; at < size;) {
    std::size_t used = 0;
    const std::size_t offered = cut < size - at ? cut : size - at;
    const DecodeEvent event = decoder.feed(bytes + at, offered, used);
    check(used >= 1 && used <= offered);
    check(event != DecodeEvent::needMore || used == offered);
    at += used;
    if (event == DecodeEvent::needMore) continue;
    const DecodedPacket& packet = decoder.packet();
    check(packet.stored <= packet.payload && packet.stored <= capacity);
    seen.push_back({event, packet, std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + packet.stored)});
  }
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t capacity = data[0];  // 0 to 255: the driver's buffers are small, the payloads not
  const std::size_t cut = 1 + data[1] % 64;
  data += 2;
  size -= 2;
  const auto byByte = decode(data, size, capacity, 1);
  const auto inChunks = decode(data, size, capacity, cut);
  check(byByte.size() == inChunks.size());
  for (std::size_t i = 0; i < byByte.size(); ++i) {
    const Seen& a = byByte[i];
    const Seen& b = inChunks[i];
    check(a.event == b.event && a.packet.type == b.packet.type && a.packet.number == b.packet.number &&
          a.packet.payload == b.packet.payload && a.packet.stored == b.packet.stored);
    if (a.event == DecodeEvent::packet) check(a.kept == b.kept);
  }
  return 0;
}
