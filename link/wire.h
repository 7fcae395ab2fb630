// The bench link's wire format, shared by the driver and the virtual bench: control bytes, packet
// layouts and the checksum. Pure functions: no I/O, no clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dorvane::link {

// Control bytes. The first byte of every packet is its type (STX, ETX or data).
inline constexpr std::uint8_t kSync = 0x16;
inline constexpr std::uint8_t kSrq = 0x21;
inline constexpr std::uint8_t kStx = 0x82;
inline constexpr std::uint8_t kEtx = 0x83;
inline constexpr std::uint8_t kAck = 0x86;
inline constexpr std::uint8_t kNak = 0x95;
inline constexpr std::uint8_t kAbort = 0x98;
inline constexpr std::uint8_t kRetry = 0x9F;
inline constexpr std::uint8_t kData = 0xC4;

// STX and ETX: type, packet count (16-bit), checksum (16-bit).
inline constexpr std::size_t kFramePacketSize = 5;
// Data packet: type, packet number (16-bit), payload length (16-bit), payload, checksum (16-bit).
inline constexpr std::size_t kPacketHeaderSize = 5;
inline constexpr std::size_t kChecksumSize = 2;
// The driver puts at most this many message bytes in one data packet.
inline constexpr std::size_t kMaxPayload = 240;
inline constexpr std::size_t kMaxDataPacketSize = kPacketHeaderSize + kMaxPayload + kChecksumSize;

inline bool isPacketType(std::uint8_t byte) { return byte == kStx || byte == kEtx || byte == kData; }

// The 16-bit sum of the bytes, each taken unsigned.
std::uint16_t checksum(const std::uint8_t* bytes, std::size_t count);

// Data packets needed for a message of `length` bytes: length / 240, rounded up.
std::uint16_t packetCount(std::size_t length);

// Writes an STX or ETX packet with its checksum into `out`; returns kFramePacketSize.
std::size_t buildFramePacket(std::uint8_t type, std::uint16_t count, std::uint8_t* out);

// Writes a data packet carrying `length` payload bytes into `out`, which holds
// kPacketHeaderSize + length + kChecksumSize bytes; returns that size.
std::size_t buildDataPacket(std::uint16_t number, const std::uint8_t* payload, std::uint16_t length,
                            std::uint8_t* out);

// A whole message framed for the wire: STX, data packets of at most `payloadSize` bytes (1 or
// more), ETX. The virtual bench frames its replies with it; the driver builds its packets one at a
// time instead, in a fixed buffer.
std::vector<std::vector<std::uint8_t>> framePackets(const std::vector<std::uint8_t>& message,
                                                    std::size_t payloadSize = kMaxPayload);

}  // namespace dorvane::link
