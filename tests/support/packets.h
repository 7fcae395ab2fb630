// Packets as they stand on the wire, built for tests on either end of the line.
#pragma once

#include <cstdint>
#include <vector>

#include "link/wire.h"

namespace dorvane::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes stxPacket(std::uint16_t count);
Bytes etxPacket(std::uint16_t count);
Bytes dataPacket(std::uint16_t number, const Bytes& payload);
// A whole message framed as STX, data packets of at most `payloadSize` bytes, ETX.
std::vector<Bytes> messagePackets(const Bytes& message, std::size_t payloadSize = link::kMaxPayload);
// A data block's reply as the bench sends it: STX, data packet 0 with the leading word and `header`,
// the points in packets of `chunk` bytes, ETX.
std::vector<Bytes> dataBlockPackets(const Bytes& header, const Bytes& points, std::size_t chunk);
// Whether the packet's last two bytes are the checksum of the bytes before them.
bool checksumOk(const Bytes& packet);

// The bytes of `first` followed by those of `second`.
Bytes join(Bytes first, const Bytes& second);
// `value` as `size` big-endian bytes appended to `bytes`.
void appendBE(Bytes& bytes, std::uint32_t value, int size);
// Bytes 0, 1, 2, ... of the given length, wrapping at 251 so packets do not repeat in step.
Bytes counting(std::size_t length, std::uint8_t first = 0);

}  // namespace dorvane::testing
