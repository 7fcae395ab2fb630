// PacketDecoder: a packet's bytes one stage at a time, with its checksum summed on the way.
#include "link/packet_decoder.h"

#include "link/byte_order.h"
#include "link/wire.h"

namespace dorvane::link {

static_assert(kFramePacketSize == kPacketHeaderSize, "STX, ETX and a data header share one header read");

void PacketDecoder::reset() {
  stage_ = DecodeStage::start;
  wanted_ = 1;
  headerFill_ = 0;
  bodyFill_ = 0;
  sum_ = 0;
}

DecodeEvent PacketDecoder::feed(const std::uint8_t* bytes, std::size_t count, std::size_t& used) {
  used = 0;
  while (used < count) {
    const DecodeEvent event = take(bytes[used++]);
    if (event != DecodeEvent::needMore) return event;
  }
  return DecodeEvent::needMore;
}

DecodeEvent PacketDecoder::take(std::uint8_t byte) {
  switch (stage_) {
    case DecodeStage::start:
      if (!isPacketType(byte)) return DecodeEvent::strayByte;
      packet_ = DecodedPacket{byte, 0, 0, 0};
      header_[0] = byte;
      headerFill_ = 1;
      sum_ = byte;
      stage_ = DecodeStage::header;
      wanted_ = kPacketHeaderSize - 1;
      return DecodeEvent::needMore;

    case DecodeStage::header:
      header_[headerFill_++] = byte;
      --wanted_;
      if (headerFill_ < kPacketHeaderSize) {
        // An STX's or ETX's last two bytes are its checksum, a data header's its payload length.
        if (headerFill_ <= 3 || header_[0] == kData) sum_ = static_cast<std::uint16_t>(sum_ + byte);
        return DecodeEvent::needMore;
      }
      packet_.number = getBE16(header_ + 1);
      if (header_[0] != kData) return finish(getBE16(header_ + 3));
      sum_ = static_cast<std::uint16_t>(sum_ + byte);
      packet_.payload = getBE16(header_ + 3);
      stage_ = DecodeStage::body;
      bodyFill_ = 0;
      wanted_ = std::size_t{packet_.payload} + kChecksumSize;
      return DecodeEvent::needMore;

    case DecodeStage::body: {
      const std::size_t at = bodyFill_++;
      --wanted_;
      const bool checksumFits = std::size_t{packet_.payload} + kChecksumSize <= capacity_;
      if (at < packet_.payload) {
        sum_ = static_cast<std::uint16_t>(sum_ + byte);
        if (at < capacity_) {
          buffer_[at] = byte;
          packet_.stored = static_cast<std::uint16_t>(at + 1);
        }
        return DecodeEvent::needMore;
      }
      if (checksumFits) buffer_[at] = byte;
      if (at == packet_.payload) {
        checksumHigh_ = byte;
        return DecodeEvent::needMore;
      }
      return finish(static_cast<std::uint16_t>((checksumHigh_ << 8) | byte));
    }
  }
  return DecodeEvent::needMore;
}

DecodeEvent PacketDecoder::finish(std::uint16_t sent) {
  const bool intact = sent == sum_;
  reset();
  return intact ? DecodeEvent::packet : DecodeEvent::badChecksum;
}

}  // namespace dorvane::link
