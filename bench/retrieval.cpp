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

// One reception of the reply as receiveReply hands it over: the data header in packet 0, checked
// before the block is allocated, then the packed points.
class BlockReader final : public link::ReplyReader {
 public:
  BlockReader(link::LinkServices& link, Block& block, std::int32_t& pointsOut)
      : link_(link), block_(block), pointsOut_(pointsOut) {}

  std::uint8_t* bufferFor(std::int32_t, std::size_t& room) override {
    room = sizeof packetBuffer_;
    return packetBuffer_;
  }
  bool begin(std::int32_t count) override {
    packets_ = count;
    return true;
  }
  bool take(const link::ReceivedPacket& packet) override {
    return packet.number == 0 ? takeHeader(packet) : takePoints(packet);
  }
  // Whether the points arrived whole.
  bool complete() const {
    const std::size_t wanted = std::size_t{block_.points} * static_cast<std::size_t>(block_.pointSize);
    if (written_ >= wanted) return true;
    link_.log.print("rxSpectrum: %lu of %lu bytes received", static_cast<unsigned long>(written_),
                    static_cast<unsigned long>(wanted));
    return false;
  }

 private:
  bool takeHeader(const link::ReceivedPacket& packet) {
    if (packet.length < kReplyWordSize + kDataHeaderSize) {
      link_.log.print("rxSpectrum: no data header");
      return false;
    }
    std::uint8_t header[kDataHeaderSize];
    std::memcpy(header, packetBuffer_ + kReplyWordSize, kDataHeaderSize);
    swapFields(header, kDataHeaderSize);
    const auto dataStart = static_cast<std::int32_t>(readField(header, field::dataStart));
    const auto dataEnd = static_cast<std::int32_t>(readField(header, field::dataEnd));
    const std::int64_t points = std::int64_t{dataEnd} - dataStart + 1;
    pointsOut_ = static_cast<std::int32_t>(points);
    link_.log.print("rxSpectrum: reading %lu points in %lu packets", static_cast<unsigned long>(pointsOut_),
                    static_cast<unsigned long>(packets_));

    block_.scans = static_cast<std::uint16_t>(readField(header, field::sampScans));
    block_.pointSize = pointSizeOf(static_cast<std::uint8_t>(readField(header, field::scanDirection)));
    if (!headerPlausible(link_, points, block_.scans, block_.pointSize, packets_)) return false;
    block_.points = static_cast<std::uint32_t>(points);
    block_.data.reset(new (std::nothrow) float[block_.points]);
    if (!block_.data) {
      link_.log.print("rxSpectrum: no memory for %u points", block_.points);
      return false;
    }
    return true;
  }

  // The packed points take points x size bytes. Padding after them is ignored while it fits the
  // points x 4 buffer; a packet past the buffer is a reply the bench did not mean.
  bool takePoints(const link::ReceivedPacket& packet) {
    const std::size_t capacity = std::size_t{block_.points} * sizeof(float);
    if (packet.length > kMostPointPayload || packet.length > capacity - written_) {
      link_.log.print("rxSpectrum: packet %d overruns the block", packet.number);
      return false;
    }
    std::memcpy(reinterpret_cast<std::uint8_t*>(block_.data.get()) + written_, packetBuffer_, packet.length);
    written_ += packet.length;
    return true;
  }

  link::LinkServices& link_;
  Block& block_;
  std::int32_t& pointsOut_;
  std::uint8_t packetBuffer_[kSpectrumPacketBuffer];
  std::int32_t packets_ = 0;
  std::size_t written_ = 0;
};

// One reception of the reply, from its STX. 1 with the block filled; otherwise the failing result
// (-2: the bench sends the whole reply again).
std::int32_t receiveBlock(link::LinkServices& link, std::int32_t port, Block& block, std::int32_t& pointsOut,
                          std::uint16_t& retryCount, std::uint16_t& srqCount, std::int32_t& benchError) {
  BlockReader reader(link, block, pointsOut);
  const std::int32_t result = link::receiveReply(link, port, reader, retryCount, srqCount, benchError);
  if (result != 1) return result;
  return reader.complete() ? 1 : 0;
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

  const std::uint32_t abortsBefore = link.abortsSent;
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
  if (link.abortsSent == abortsBefore) link::txChar(link, port, link::kAbort, benchError);
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
