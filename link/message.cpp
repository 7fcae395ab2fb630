// txMessage, txCommand, rxReject, rxPacket and rxMessage: messages over acknowledged packets.
#include "link/message.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "link/byte_order.h"
#include "link/packet.h"
#include "link/packet_decoder.h"
#include "link/result_codes.h"
#include "link/wire.h"

namespace dorvane::link {
namespace {

// ABORT tells the bench to drop the rest of its reply. What of it is already on its way is drained,
// so the next exchange does not read it.
std::int32_t abortReply(LinkServices& link, std::int32_t port, std::int32_t& benchError) {
  if (txChar(link, port, kAbort, benchError) != 1) return 0;
  drainLine(link, port, kQuietAfterAbortMs, kMostDrainAfterAbortMs);
  return kLinkAborted;
}

}  // namespace

std::int32_t txMessage(LinkServices& link, std::int32_t port, const std::uint8_t* message, std::uint16_t length,
                       std::uint16_t& srqCount, std::int32_t& benchError) {
  runtime::LogFile& log = link.log;
  log.print("dorvane.dll.txMessage");
  const std::uint16_t count = packetCount(length);
  std::array<std::uint8_t, kFramePacketSize> stx{};
  std::array<std::uint8_t, kFramePacketSize> etx{};
  buildFramePacket(kStx, count, stx.data());
  buildFramePacket(kEtx, count, etx.data());
  std::array<std::uint8_t, kMaxDataPacketSize> data{};

  log.print("  txMessage sending STX");
  std::int32_t result = 0;
  unsigned restarts = 0;
  do {
    // A bench that asks for the message again without end would hold the export for ever.
    if (result == kLinkRetry && ++restarts > kMostMessageRestarts) {
      log.print("txMessage: bench asked for the message again too often");
      (void)txChar(link, port, kAbort, benchError);
      if (benchError == 0) setError(link, benchError, kErrorSendFailed);
      return kLinkRetry;
    }
    result = txPacket(link, port, stx.data(), kFramePacketSize, srqCount, benchError);
    if (result == 1) {
      log.print("txMessage sending data packets");
      for (std::uint16_t number = 0; number < count && result == 1; ++number) {
        const std::size_t offset = std::size_t{number} * kMaxPayload;
        const auto payload = static_cast<std::uint16_t>(std::min<std::size_t>(kMaxPayload, length - offset));
        const std::size_t size = buildDataPacket(number, message + offset, payload, data.data());
        log.print("  txMessage sending CMD");
        result = txPacket(link, port, data.data(), static_cast<std::int32_t>(size), srqCount, benchError);
      }
    }
    log.print("  txMessage sending ETX");
    if (result == 1) result = txPacket(link, port, etx.data(), kFramePacketSize, srqCount, benchError);
  } while (result == kLinkRetry);  // the bench asked for the whole message again

  if (result == 1 || benchError != 0) return result;
  log.print("txMessage error %d", result);
  setError(link, benchError,
           result == kLinkGaveUp ? kErrorNoAnswer : result == kLinkAborted ? kErrorBenchAborted : kErrorSendFailed);
  return result;
}

std::int32_t txCommand(LinkServices& link, std::int32_t port, std::uint16_t command, std::uint16_t& srqCount,
                       std::int32_t& benchError) {
  std::uint8_t message[2];
  putBE16(message, command);
  return txMessage(link, port, message, sizeof message, srqCount, benchError);
}

std::int32_t rxReject(LinkServices& link, std::int32_t port, std::uint16_t& retryCount, std::uint16_t& nakCount,
                      std::int32_t& benchError) {
  if (++nakCount <= 2) return txChar(link, port, kNak, benchError) == 1 ? 1 : 0;
  if (++retryCount <= 1) return txChar(link, port, kRetry, benchError) == 1 ? kLinkRetry : 0;
  return txChar(link, port, kAbort, benchError) == 1 ? kLinkAborted : 0;
}

std::int32_t rxPacket(LinkServices& link, std::int32_t port, ReceivedPacket& packet, std::uint8_t* buffer,
                      std::size_t capacity, std::uint16_t& retryCount, std::uint16_t& srqCount,
                      std::int32_t& benchError) {
  std::uint16_t timeoutFlag = 0;
  std::uint16_t nakCount = 0;
  std::uint16_t timeouts = 0;  // consecutive; every byte received resets it
  PacketDecoder decoder(buffer, capacity);
  // A body is read whole, so the line stays in step and its checksum can be checked; the decoder
  // keeps what fits the caller's buffer. A bench sends at most 254 payload bytes a packet; a longer
  // body gets room of its own.
  std::array<std::uint8_t, 256> body{};
  std::vector<std::uint8_t> longBody;
  // A bench that sends nothing but SRQ must not hold the receive forever; the patience runs from
  // its last other byte.
  platform::Deadline srqPatience(link.clock, kSrqPatienceMs);

  for (;;) {
    decoder.reset();
    if (timeoutFlag != 0) {
      timeoutFlag = 0;
      if (timeouts++ == 2) return txChar(link, port, kAbort, benchError) == 1 ? kLinkGaveUp : 0;
      const std::int32_t rejected = rxReject(link, port, retryCount, nakCount, benchError);
      if (rejected != 1) return rejected;
    }
    // Between packets the host's stop ends the reply; ABORT tells the bench to drop the rest.
    if (link.stopRequested()) {
      link.log.print("rxPacket: stop requested, sending ABORT");
      return abortReply(link, port, benchError);
    }

    const std::int32_t first = rxPacketStart(link, port, 1, timeoutFlag);
    if (first < 0) continue;
    if (first == kSrq) {
      ++srqCount;
      if (srqPatience.passed()) {
        timeoutFlag = 1;
      } else {
        timeouts = 0;
      }
      continue;
    }
    srqPatience.restart();
    timeouts = 0;
    if (decoder.feed(static_cast<std::uint8_t>(first)) == DecodeEvent::strayByte) {
      rxReject(link, port, retryCount, nakCount, benchError);
      return 0;
    }

    std::uint8_t header[kPacketHeaderSize - 1];
    if (rxBytes(link, port, header, sizeof header, 1, timeoutFlag, benchError) != 1) {
      if (timeoutFlag == 0) return 0;
      // The packet lost bytes: what did arrive of it is stale once the bench sends it again.
      link.serial.clearReceiveQueue(port);
      continue;
    }
    packet.type = static_cast<std::uint8_t>(first);
    std::size_t used = 0;
    DecodeEvent event = decoder.feed(header, sizeof header, used);
    if (event == DecodeEvent::needMore) {
      const std::size_t wanted = decoder.wanted();
      std::uint8_t* target = body.data();
      if (wanted > body.size()) {
        longBody.resize(wanted);  // at most 65535 + 2 bytes: the length field has 16 bits
        target = longBody.data();
      }
      packet.length = static_cast<std::uint16_t>(std::min<std::size_t>(decoder.packet().payload, capacity));
      if (rxBytes(link, port, target, static_cast<std::int32_t>(wanted), 2, timeoutFlag, benchError) != 1) {
        if (timeoutFlag == 0) return kLinkAborted;
        link.serial.clearReceiveQueue(port);
        continue;
      }
      event = decoder.feed(target, wanted, used);
    } else {
      packet.length = 3;
    }

    if (event != DecodeEvent::packet) {
      // A packet whose length was damaged may have more bytes on the way: stale once it is resent.
      link.serial.clearReceiveQueue(port);
      const std::int32_t rejected = rxReject(link, port, retryCount, nakCount, benchError);
      if (rejected == 1) continue;
      return rejected;
    }
    if (txChar(link, port, kAck, benchError) != 1) return 0;
    packet.number = static_cast<std::int16_t>(decoder.packet().number);
    return 1;
  }
}

std::int32_t receiveReply(LinkServices& link, std::int32_t port, ReplyReader& reader, std::uint16_t& retryCount,
                          std::uint16_t& srqCount, std::int32_t& benchError) {
  bool started = false;  // the STX is in
  std::int32_t count = 0;
  std::int32_t expected = 0;
  unsigned strays = 0;  // packets in a row that were not the one expected
  for (;;) {
    std::size_t room = 0;
    std::uint8_t* buffer = reader.bufferFor(expected, room);
    ReceivedPacket packet;
    const std::int32_t result = rxPacket(link, port, packet, buffer, room, retryCount, srqCount, benchError);
    if (result != 1) return result;
    const bool awaited = !started           ? packet.type == kStx
                         : expected < count ? packet.type == kData && packet.number == expected
                                            : packet.type == kEtx;
    if (!awaited) {
      // A bench that repeats itself without end would hold the receive for ever.
      if (++strays > kMostStrayPackets) return txChar(link, port, kAbort, benchError) == 1 ? kLinkAborted : 0;
      continue;
    }
    strays = 0;
    if (packet.type == kEtx) return 1;
    if (!started) {
      started = true;
      count = packet.number;
      // Every reply starts with its leading word, so one that counts no packets is damaged: taken
      // as empty, it would hand the caller zeros for a record.
      if (count < 1) {
        link.log.print("receiveReply: the reply counts %d packets; sending ABORT", count);
        return abortReply(link, port, benchError);
      }
      if (!reader.begin(count)) return 0;
    } else {
      if (!reader.take(packet)) return 0;
      ++expected;
    }
  }
}

namespace {

// A reply as rxMessage keeps it: without its leading word, cut at the destination's end.
class MessageReader final : public ReplyReader {
 public:
  MessageReader(std::uint8_t* destination, std::size_t capacity, std::int32_t& dataLength)
      : destination_(destination), capacity_(capacity), dataLength_(dataLength) {
    dataLength_ = 0;
  }

  std::uint8_t* bufferFor(std::int32_t number, std::size_t& room) override {
    if (number == 0) {
      // Packet 0 starts with the leading word, which takes no room in the destination: it lands
      // in a buffer two bytes larger, so a reply that exactly fills the destination fits.
      first_.resize(capacity_ + 2);
      room = first_.size();
      return first_.data();
    }
    room = capacity_ - written_;
    return destination_ + written_;
  }
  bool begin(std::int32_t) override { return true; }
  bool take(const ReceivedPacket& packet) override {
    if (packet.number == 0) {
      const std::size_t kept = packet.length >= 2 ? std::min<std::size_t>(packet.length - 2u, capacity_) : 0u;
      if (kept != 0) std::memcpy(destination_, first_.data() + 2, kept);
      written_ = kept;
    } else {
      written_ += std::min<std::size_t>(packet.length, capacity_ - written_);
    }
    dataLength_ = static_cast<std::int32_t>(written_);
    return true;
  }

 private:
  std::uint8_t* destination_;
  std::size_t capacity_;
  std::int32_t& dataLength_;
  std::vector<std::uint8_t> first_;
  std::size_t written_ = 0;
};

}  // namespace

std::int32_t rxMessage(LinkServices& link, std::int32_t port, std::uint8_t* destination, std::size_t capacity,
                       std::int32_t& dataLength, std::uint16_t& srqCount, std::int32_t& benchError) {
  std::uint16_t retryCount = 0;  // one request for the whole reply again, across restarts
  for (;;) {
    MessageReader reader(destination, capacity, dataLength);
    const std::int32_t result = receiveReply(link, port, reader, retryCount, srqCount, benchError);
    if (result != kLinkRetry) return result;  // the driver asked for the whole reply again
  }
}

}  // namespace dorvane::link
