// The message layer: a message goes out as STX, data packets and ETX, each acknowledged; a reply
// comes back the same way and loses its leading word. Every receive is bounded by the buffer it
// is given: bytes beyond it are read off the line and dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/com_port.h"

namespace dorvane::link {

// Times a bench's RETRY may restart one message; the next RETRY ends the send with ABORT.
inline constexpr unsigned kMostMessageRestarts = 10;

// Sends a message of 1 to 65535 bytes. The last txPacket result: 1 success; 0, -1 or -3 failure,
// with the error word set to -5, -6 or -7 when no lower layer had set it. A RETRY from the bench
// sends the whole message again, up to kMostMessageRestarts times; after that: ABORT, result -2,
// and the error word -7 when no lower layer had set it.
std::int32_t txMessage(LinkServices& link, std::int32_t port, const std::uint8_t* message, std::uint16_t length,
                       std::uint16_t& srqCount, std::int32_t& benchError);
// Sends the message made of one 16-bit command word.
std::int32_t txCommand(LinkServices& link, std::int32_t port, std::uint16_t command, std::uint16_t& srqCount,
                       std::int32_t& benchError);

// The receiving side's answer to a damaged packet or a silence: NAK twice, then RETRY once per
// reply, then ABORT. 1 NAK sent, -2 RETRY sent, -3 ABORT sent, 0 the send failed.
std::int32_t rxReject(LinkServices& link, std::int32_t port, std::uint16_t& retryCount, std::uint16_t& nakCount,
                      std::int32_t& benchError);

// What rxPacket reports about the packet it received.
struct ReceivedPacket {
  std::uint16_t type = 0;    // the first byte, set as soon as a header is read
  std::int32_t number = 0;   // the packet number (the count for STX and ETX), set on acceptance
  std::uint16_t length = 0;  // 3 for STX and ETX; for data, the payload bytes stored in the buffer
};

// Receives, checks and acknowledges one packet. A data packet's payload and its 2 checksum bytes
// go to `buffer`; a payload longer than `capacity` is checked whole but only its first `capacity`
// bytes are kept (then the checksum is not stored and `length` counts what was kept).
// 1 accepted; 0, -1 (silent line, after ABORT), -2 (RETRY sent) or -3 (ABORT sent, also when the
// link's stop ended the wait for a packet) otherwise.
std::int32_t rxPacket(LinkServices& link, std::int32_t port, ReceivedPacket& packet, std::uint8_t* buffer,
                      std::size_t capacity, std::uint16_t& retryCount, std::uint16_t& srqCount,
                      std::int32_t& benchError);

// After a stop's ABORT the line counts as quiet after this long without a byte; a packet's bytes
// follow each other much closer at every baud rate the bench offers. The drain never lasts longer
// than the second bound.
inline constexpr std::uint32_t kQuietAfterAbortMs = 20;
inline constexpr std::uint32_t kMostDrainAfterAbortMs = 300;

// Packets in a row, within one reply, that may carry another number than the one expected (a
// bench's repeats); one more ends the receive with ABORT and -3.
inline constexpr unsigned kMostStrayPackets = 32;

// How receiveReply hands one reply's data packets to its reader.
class ReplyReader {
 public:
  // Where data packet `number`, the one expected next, is received (payload, then its checksum
  // where that fits), and its room. Another packet that comes instead lands there too and is
  // overwritten.
  virtual std::uint8_t* bufferFor(std::int32_t number, std::size_t& room) = 0;
  // The STX announced `count` data packets: false for a reply that cannot be right.
  virtual bool begin(std::int32_t count) = 0;
  // The data packet expected next is in, `packet.length` bytes of it kept: false for a reply that
  // cannot be right.
  virtual bool take(const ReceivedPacket& packet) = 0;

 protected:
  ~ReplyReader() = default;
};

// Receives one reply: its STX, the data packets 0 to count - 1 in order, its ETX. Any other packet
// (a repeat, a frame packet where data belongs, data where the ETX belongs) is acknowledged and
// skipped; one more than kMostStrayPackets in a row ends the reply with ABORT and -3, and so does an
// STX that counts no packets (every reply holds at least its leading word). 1 the reply is
// whole; 0 the reader refused it (the caller ends it); otherwise rxPacket's result (-2: RETRY sent,
// the bench sends the whole reply again).
std::int32_t receiveReply(LinkServices& link, std::int32_t port, ReplyReader& reader, std::uint16_t& retryCount,
                          std::uint16_t& srqCount, std::int32_t& benchError);

// Receives a whole reply into `destination` (of `capacity` bytes) without its leading word;
// `dataLength` is its size. Reply bytes beyond the capacity are dropped. 1 success; 0, -1 or -3.
std::int32_t rxMessage(LinkServices& link, std::int32_t port, std::uint8_t* destination, std::size_t capacity,
                       std::int32_t& dataLength, std::uint16_t& srqCount, std::int32_t& benchError);

}  // namespace dorvane::link
