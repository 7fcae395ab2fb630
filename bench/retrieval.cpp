// rxSpectrum and convertData: a data block's reply packet by packet, then its raw counts as volts.
#include "bench/retrieval.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "bench/requests.h"
#include "link/byte_order.h"
#include "link/message.h"
#include "link/wire.h"

namespace dorvane::bench {
namespace {

// Bytes of the reply's leading word in front of the data header.
constexpr std::size_t kReplyWordSize = 2;
// The most payload a reply packet may carry: what the packet buffer holds beside the checksum.
constexpr std::size_t kMostPointPayload = kSpectrumPacketBuffer - link::kChecksumSize;

struct Block {
  std::unique_ptr<float[]> data;  // the packed points at first, the volts in the end
  std::uint32_t points = 0;
  std::int32_t pointSize = 2;
  std::uint16_t scans = 0;
};

std::int32_t pointSizeOf(std::uint8_t bits) {
  switch (bits & 0x18) {
    case 0x00: return 2;
    case 0x08: return 3;
    default: return 4;
  }
}

// Whether a header describes a block that the reply can carry and the conversion can divide by.
bool headerPlausible(link::LinkServices& link, std::int64_t points, std::uint16_t scans, std::int32_t pointSize,
                     std::int32_t packets) {
  const std::int64_t carried = std::int64_t{packets - 1} * static_cast<std::int64_t>(kMostPointPayload);
  if (points >= 1 && points <= kMostSpectrumPoints && scans != 0 && points * pointSize <= carried) return true;
  link.log.print("rxSpectrum: header refused, %lld points of size %d, %u scans, %d packets",
                 static_cast<long long>(points), pointSize, static_cast<unsigned>(scans), packets);
  return false;
}

// One reception of the reply, from its STX. 1 with the block filled; otherwise the failing
// rxPacket result (-2: the bench sends the whole reply again) or 0 for a reply that cannot be right.
std::int32_t receiveBlock(link::LinkServices& link, std::int32_t port, Block& block, std::int32_t& pointsOut,
                          std::uint16_t& retryCount, std::uint16_t& srqCount, std::int32_t& benchError) {
  std::uint8_t packetBuffer[kSpectrumPacketBuffer];
  link::ReceivedPacket packet;
  const auto receive = [&] {
    return link::rxPacket(link, port, packet, packetBuffer, sizeof packetBuffer, retryCount, srqCount, benchError);
  };

  std::int32_t result = receive();
  if (result != 1) return result;
  const std::int32_t packets = packet.number;
  if (packets < 1) return 0;

  result = receive();
  if (result != 1) return result;
  if (packet.type != link::kData || packet.length < kReplyWordSize + kDataHeaderSize) {
    link.log.print("rxSpectrum: no data header");
    return 0;
  }
  std::uint8_t header[kDataHeaderSize];
  std::memcpy(header, packetBuffer + kReplyWordSize, kDataHeaderSize);
  swapFields(header, kDataHeaderSize);
  const auto dataStart = static_cast<std::int32_t>(readField(header, field::dataStart));
  const auto dataEnd = static_cast<std::int32_t>(readField(header, field::dataEnd));
  const std::int64_t points = std::int64_t{dataEnd} - dataStart + 1;
  pointsOut = static_cast<std::int32_t>(points);
  link.log.print("rxSpectrum: reading %lu points in %lu packets", static_cast<unsigned long>(pointsOut),
                 static_cast<unsigned long>(packets));

  block.scans = static_cast<std::uint16_t>(readField(header, field::sampScans));
  block.pointSize = pointSizeOf(static_cast<std::uint8_t>(readField(header, field::scanDirection)));
  if (!headerPlausible(link, points, block.scans, block.pointSize, packets)) return 0;
  block.points = static_cast<std::uint32_t>(points);
  block.data.reset(new (std::nothrow) float[block.points]);
  if (!block.data) {
    link.log.print("rxSpectrum: no memory for %u points", block.points);
    return 0;
  }

  // The packed points take points x size bytes. Padding after them is ignored while it fits the
  // points x 4 buffer; a packet past the buffer, or a reply short of the points, is a reply the
  // bench did not mean.
  auto* bytes = reinterpret_cast<std::uint8_t*>(block.data.get());
  const std::size_t wanted = std::size_t{block.points} * static_cast<std::size_t>(block.pointSize);
  const std::size_t capacity = std::size_t{block.points} * sizeof(float);
  std::size_t written = 0;
  std::int32_t expected = 1;
  unsigned strays = 0;
  while (expected < packets) {
    result = receive();
    if (result != 1) return result;
    if (packet.type != link::kData || packet.number != expected) {
      if (++strays > link::kMostStrayPackets) return 0;
      continue;  // a repeat of a packet already taken, or one out of place
    }
    strays = 0;
    if (packet.length > kMostPointPayload || packet.length > capacity - written) {
      link.log.print("rxSpectrum: packet %d overruns the block", packet.number);
      return 0;
    }
    std::memcpy(bytes + written, packetBuffer, packet.length);
    written += packet.length;
    ++expected;
  }
  // The ETX; a repeat of the last data packet in front of it is dropped like any repeat.
  do {
    result = receive();
    if (result != 1) return result;
  } while (packet.type == link::kData && ++strays <= link::kMostStrayPackets);
  if (packet.type != link::kEtx) return 0;
  if (written < wanted) {
    link.log.print("rxSpectrum: %lu of %lu bytes received", static_cast<unsigned long>(written),
                   static_cast<unsigned long>(wanted));
    return 0;
  }
  return 1;
}

// The unsigned big-endian number of `size` bytes at `at`.
std::uint32_t packedValue(const std::uint8_t* at, std::int32_t size) {
  std::uint32_t value = 0;
  for (std::int32_t i = 0; i < size; ++i) value = (value << 8) | at[i];
  return value;
}

}  // namespace

std::int32_t rxSpectrum(link::LinkServices& link, std::int32_t port, std::int32_t bench, std::uint32_t stamp,
                        float*& data, std::int32_t& points, const BenchSetup& benchSetup, std::uint16_t& srqCount,
                        std::int32_t& benchError) {
  data = nullptr;
  link.log.print("retrieving data from bench, time= %d", static_cast<std::int32_t>(stamp));
  std::uint8_t request[6];
  link::putBE16(request, command::dataRequest);
  link::putBE32(request + 2, stamp);
  if (link::txMessage(link, port, request, sizeof request, srqCount, benchError) != 1) return 0;

  std::uint16_t retryCount = 0;  // the whole reply may be asked for again once per retrieval
  Block block;
  std::int32_t result = 0;
  do {
    block = Block{};
    result = receiveBlock(link, port, block, points, retryCount, srqCount, benchError);
  } while (result == kLinkRetry);

  if (result == 1) {
    const auto voltsCode = static_cast<std::uint8_t>(benchSetup.get(field::adcVolts));
    convertData(link.log, bench, block.data.get(), static_cast<std::int32_t>(block.points), block.pointSize,
                block.scans, voltsCode);
    link.log.print("Received %d points of size %d", static_cast<std::int32_t>(block.points), block.pointSize);
    data = block.data.release();
    return 1;
  }
  link.log.print("ERROR %d retrieving data", benchError);
  block.data.reset();
  link::txChar(link, port, link::kAbort, benchError);
  return 0;
}

std::int32_t convertData(runtime::LogFile& log, std::int32_t bench, void* buffer, std::int32_t points,
                         std::int32_t pointSize, std::uint16_t scans, std::uint8_t voltsCode) {
  const bool fiveVoltDefault = bench == 11 || bench == 13 || bench == 14;
  double range = 0;
  if (fiveVoltDefault) {
    range = voltsCode == 5 ? 5.0 : 10.0;
  } else {
    range = voltsCode == 10 ? 10.0 : 5.0;
  }
  double factor = scans * 32768.0 / range;
  log.print("convertData scans= %d; size= %d; volts= %d; factor= %f", scans, pointSize, voltsCode, factor);
  if (points <= 0 || scans == 0) return 1;

  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const auto count = static_cast<std::size_t>(points);
  // From the last point back, so every packed value is read before a wider one covers it.
  for (std::size_t k = count; k-- > 0;) {
    const std::uint32_t value = packedValue(bytes + k * static_cast<std::size_t>(pointSize), pointSize);
    std::memcpy(bytes + k * 4, &value, sizeof value);
  }

  // Per-scan counts far beyond the 16-bit range take the wide converter's scale.
  std::uint32_t perScanSum = 0;
  for (std::size_t k = 0; k < std::min<std::size_t>(count, 32); ++k) {
    std::uint32_t value;
    std::memcpy(&value, bytes + k * 4, sizeof value);
    perScanSum += value / scans;
  }
  if (perScanSum > 3276750u) factor = scans * 131072.0 * 0.2;

  const auto reciprocal = static_cast<float>(1.0 / factor);
  for (std::size_t k = 0; k < count; ++k) {
    std::int32_t raw;
    std::memcpy(&raw, bytes + k * 4, sizeof raw);
    const auto scaled = static_cast<float>(static_cast<double>(raw) * reciprocal);
    const auto volts = static_cast<float>(static_cast<double>(scaled) - range);
    std::memcpy(bytes + k * 4, &volts, sizeof volts);
  }
  return 1;
}

}  // namespace dorvane::bench
