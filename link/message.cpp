// txMessage, txCommand, rxReject, rxPacket and rxMessage: messages over acknowledged packets.
#include "link/message.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "link/byte_order.h"
#include "link/packet.h"
#include "link/result_codes.h"
#include "link/wire.h"

namespace dorvane::link {

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
      setError(link, benchError, kErrorSendFailed);
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
  std::uint8_t header[kPacketHeaderSize] = {};
  std::vector<std::uint8_t> oversize;  // a payload longer than the buffer is read here whole
  // A bench that sends nothing but SRQ must not hold the receive forever; the patience runs from
  // its last other byte.
  platform::Deadline srqPatience(link.clock, kSrqPatienceMs);

  for (;;) {
    if (timeoutFlag != 0) {
      timeoutFlag = 0;
      if (timeouts++ == 2) return txChar(link, port, kAbort, benchError) == 1 ? kLinkGaveUp : 0;
      const std::int32_t rejected = rxReject(link, port, retryCount, nakCount, benchError);
      if (rejected != 1) return rejected;
    }
    // Between packets the host's stop ends the reply; ABORT tells the bench to drop the rest.
    if (link.stopRequested()) {
      link.log.print("rxPacket: stop requested, sending ABORT");
      if (txChar(link, port, kAbort, benchError) != 1) return 0;
      // The rest of the reply's packet may still be on its way; the next exchange must not read it.
      drainLine(link, port, kQuietAfterAbortMs, kMostDrainAfterAbortMs);
      return kLinkAborted;
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
    header[0] = static_cast<std::uint8_t>(first);
    if (!isPacketType(header[0])) {
      rxReject(link, port, retryCount, nakCount, benchError);
      return 0;
    }

    if (rxBytes(link, port, header + 1, kPacketHeaderSize - 1, 1, timeoutFlag, benchError) != 1) {
      if (timeoutFlag == 0) return 0;
      // The packet lost bytes: what did arrive of it is stale once the bench sends it again.
      link.serial.clearReceiveQueue(port);
      continue;
    }
    packet.type = header[0];

    std::uint16_t received = 0;
    std::uint16_t expected = 0;
    if (header[0] == kStx || header[0] == kEtx) {
      received = getBE16(header + 3);
      expected = checksum(header, 3);
      packet.length = 3;
    } else {
      const std::uint16_t payload = getBE16(header + 3);
      const std::size_t wanted = std::size_t{payload} + kChecksumSize;
      // The payload and its checksum normally land in the caller's buffer; a longer packet is
      // still read whole, so the line stays in step and its checksum can be checked.
      std::uint8_t* target = buffer;
      if (wanted > capacity) {
        oversize.resize(wanted);
        target = oversize.data();
      }
      packet.length = static_cast<std::uint16_t>(std::min<std::size_t>(payload, capacity));
      if (rxBytes(link, port, target, static_cast<std::int32_t>(wanted), 2, timeoutFlag, benchError) != 1) {
        if (timeoutFlag == 0) return kLinkAborted;
        link.serial.clearReceiveQueue(port);
        continue;
      }
      received = getBE16(target + payload);
      expected = static_cast<std::uint16_t>(checksum(header, kPacketHeaderSize) + checksum(target, payload));
      if (target != buffer && packet.length != 0) std::memcpy(buffer, target, packet.length);
    }

    if (received != expected) {
      // A packet whose length was damaged may have more bytes on the way: stale once it is resent.
      link.serial.clearReceiveQueue(port);
      const std::int32_t rejected = rxReject(link, port, retryCount, nakCount, benchError);
      if (rejected == 1) continue;
      return rejected;
    }
    if (txChar(link, port, kAck, benchError) != 1) return 0;
    packet.number = static_cast<std::int16_t>(getBE16(header + 1));
    return 1;
  }
}

std::int32_t rxMessage(LinkServices& link, std::int32_t port, std::uint8_t* destination, std::size_t capacity,
                       std::int32_t& dataLength, std::uint16_t& srqCount, std::int32_t& benchError) {
  std::uint16_t retryCount = 0;  // one request for the whole reply again, across restarts
  // The closing packet's payload, should it carry one, is read here and dropped.
  std::array<std::uint8_t, kMaxDataPacketSize> discard{};
  std::vector<std::uint8_t> first;
  for (;;) {
    ReceivedPacket packet;
    std::int32_t result = rxPacket(link, port, packet, destination, capacity, retryCount, srqCount, benchError);
    if (result == 1) {
      const std::int32_t count = packet.number;
      std::int32_t expected = 0;
      std::size_t written = 0;
      unsigned strays = 0;  // packets in a row that were not the one expected
      for (;;) {
        // Packet 0 starts with the reply's leading word, which takes no room in the destination:
        // it lands in a buffer two bytes larger, so a reply that exactly fills the destination fits.
        const bool leading = expected == 0;
        if (leading) first.assign(capacity + 2, 0);
        result = leading ? rxPacket(link, port, packet, first.data(), first.size(), retryCount, srqCount, benchError)
                         : rxPacket(link, port, packet, destination + written, capacity - written, retryCount,
                                    srqCount, benchError);
        if (result == 1 && packet.number != expected && ++strays > kMostStrayPackets) {
          // A bench that repeats itself without end would hold the receive for ever.
          result = txChar(link, port, kAbort, benchError) == 1 ? kLinkAborted : 0;
          break;
        }
        if (result == 1 && packet.number == expected) {
          strays = 0;
          ++expected;
          if (packet.number == 0) {
            // The reply's leading word is not data.
            const std::size_t kept = packet.length >= 2 ? std::min<std::size_t>(packet.length - 2u, capacity) : 0u;
            if (kept != 0) std::memcpy(destination, first.data() + 2, kept);
            written = kept;
            dataLength = static_cast<std::int32_t>(kept);
          } else {
            // STX and ETX report a length of 3 but store nothing; never step past the end.
            const std::size_t step = std::min<std::size_t>(packet.length, capacity - written);
            written += step;
            dataLength += static_cast<std::int32_t>(step);
          }
        }
        if (result == 1 && expected >= count) {
          result = rxPacket(link, port, packet, discard.data(), discard.size(), retryCount, srqCount, benchError);
          break;
        }
        if (result != 1) break;
      }
    }
    if (result != kLinkRetry) return result;  // the driver asked for the whole reply again
  }
}

}  // namespace dorvane::link
