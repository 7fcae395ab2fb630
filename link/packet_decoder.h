// The one reading of packets off the line, for the driver and the virtual bench alike: bytes in,
// events out. No I/O and no clock: the caller reads the bytes, keeps the time, and decides what an
// event means on its own side of the line. A data packet's length comes off the wire, so its
// payload is stored only as far as the caller's buffer reaches; the checksum still covers it all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvane::link {

enum class DecodeEvent {
  needMore,     // the packet is not complete: feed more bytes
  packet,       // a packet complete and intact: see packet()
  badChecksum,  // a packet complete whose checksum does not match: see packet() for its header
  strayByte,    // a byte that starts no packet where a packet must start (SYNC, SRQ, noise)
};

// Where the decoder stands: a packet's first byte, the rest of its header, or a data packet's
// payload and checksum.
enum class DecodeStage { start, header, body };

struct DecodedPacket {
  std::uint8_t type = 0;       // STX, ETX or data
  std::uint16_t number = 0;    // the count of STX and ETX, a data packet's number
  std::uint16_t payload = 0;   // payload bytes the data packet declared; 0 for STX and ETX
  std::uint16_t stored = 0;    // payload bytes kept in the caller's buffer: at most its capacity
};

class PacketDecoder {
 public:
  // A data packet's payload goes to `buffer` (`capacity` bytes), followed by its two checksum
  // bytes when they fit there too.
  PacketDecoder(std::uint8_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  // Forgets a packet begun: the next byte starts one.
  void reset();

  DecodeStage stage() const { return stage_; }
  // Bytes that complete the current stage: 1 at the start, 4 for the header, then a data
  // packet's payload and checksum.
  std::size_t wanted() const { return wanted_; }

  // Takes bytes until an event other than needMore, or until they run out; `used` says how many
  // it took. After packet, badChecksum or strayByte the next byte starts a new packet.
  DecodeEvent feed(const std::uint8_t* bytes, std::size_t count, std::size_t& used);
  DecodeEvent feed(std::uint8_t byte) {
    std::size_t used = 0;
    return feed(&byte, 1, used);
  }

  // The packet the last packet or badChecksum event was about (and, during a body, the header).
  const DecodedPacket& packet() const { return packet_; }

 private:
  DecodeEvent take(std::uint8_t byte);
  DecodeEvent finish(std::uint16_t sent);

  std::uint8_t* buffer_;
  std::size_t capacity_;
  DecodeStage stage_ = DecodeStage::start;
  std::size_t wanted_ = 1;
  std::uint8_t header_[5] = {};
  std::size_t headerFill_ = 0;
  std::size_t bodyFill_ = 0;
  std::uint16_t sum_ = 0;
  std::uint8_t checksumHigh_ = 0;
  DecodedPacket packet_;
};

}  // namespace dorvane::link
