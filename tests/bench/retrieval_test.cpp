// Spectrum retrieval and the conversion of raw counts to volts: whole blocks over several packets,
// repeats and restarts, headers that cannot be right, and replies that would overrun a buffer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bench/retrieval.h"
#include "link/byte_order.h"
#include "tests/bench/bench_fixture.h"

namespace dorvane::testing {
namespace {

using namespace bench;

// `values` packed as unsigned big-endian integers of `size` bytes.
Bytes packed(const std::vector<std::uint32_t>& values, int size) {
  Bytes bytes;
  for (const std::uint32_t value : values) appendBE(bytes, value, size);
  return bytes;
}

// Volts of a raw count on a family-7 bench with adcVolts 10 and one scan: raw x 10 / 32768 - 10.
float volts(std::uint32_t raw) { return static_cast<float>(raw * 5.0 / 16384.0 - 10.0); }

class ConvertDataTest : public BenchTest {
 protected:
  std::vector<float> convert(std::int32_t bench, const std::vector<std::uint32_t>& values, int size,
                             std::uint16_t scans, std::uint8_t voltsCode) {
    std::vector<std::uint8_t> buffer(values.size() * 4, 0xEE);
    const Bytes bytes = packed(values, size);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    EXPECT_EQ(convertData(log, bench, buffer.data(), static_cast<std::int32_t>(values.size()), size, scans,
                          voltsCode),
              1);
    std::vector<float> result(values.size());
    std::memcpy(result.data(), buffer.data(), buffer.size());
    return result;
  }
};

TEST_F(ConvertDataTest, RangeFollowsTheFamilyAndTheVoltsCode) {
  struct Case {
    std::int32_t bench;
    std::uint8_t voltsCode;
    float range;
  };
  const Case cases[] = {{7, 10, 10}, {7, 5, 5},   {8, 0, 5},     {9, 10, 10}, {15, 0, 5}, {0, 10, 10},
                        {11, 0, 10}, {11, 5, 5}, {13, 10, 10}, {13, 5, 5},  {14, 0, 10}};
  for (const Case& c : cases) {
    // Four co-added scans: 4 x 32768 reads 0 V and 0 reads -R.
    const auto v = convert(c.bench, {131072, 0, 196608}, 4, 4, c.voltsCode);
    EXPECT_FLOAT_EQ(v[0], 0.0f) << "family " << c.bench << " volts " << int{c.voltsCode};
    EXPECT_FLOAT_EQ(v[1], -c.range) << "family " << c.bench << " volts " << int{c.voltsCode};
    EXPECT_FLOAT_EQ(v[2], c.range / 2) << "family " << c.bench << " volts " << int{c.voltsCode};
  }
  EXPECT_TRUE(logHas("convertData scans= 4; size= 4; volts= 10; factor= 13107.200000"));
}

TEST_F(ConvertDataTest, WideCountsSwitchToTheWiderFactorButKeepTheOffset) {
  std::vector<std::uint32_t> wide(32, 131072);
  wide.push_back(0);
  auto v = convert(9, wide, 4, 1, 5);  // R = 5: the factor becomes 131072 x 0.2
  EXPECT_FLOAT_EQ(v[0], 0.0f);
  EXPECT_FLOAT_EQ(v[31], 0.0f);
  EXPECT_FLOAT_EQ(v[32], -5.0f);
  EXPECT_TRUE(logHas("convertData scans= 1; size= 4; volts= 5; factor= 6553.600000"));
  v = convert(9, wide, 4, 1, 10);  // R = 10 scales the same, but the offset stays -10
  EXPECT_FLOAT_EQ(v[0], -5.0f);
  EXPECT_FLOAT_EQ(v[32], -10.0f);

  // The test sums at most 32 values, each divided by the scan count, and needs more than 3276750.
  EXPECT_FLOAT_EQ(convert(9, {3276750}, 4, 1, 5)[0], static_cast<float>(3276750 * 5.0 / 32768 - 5));
  EXPECT_FLOAT_EQ(convert(9, {3276751}, 4, 1, 5)[0], static_cast<float>(3276751 * 5.0 / 131072 - 5));
  EXPECT_FLOAT_EQ(convert(9, std::vector<std::uint32_t>(32, 150000), 4, 2, 5)[31],
                  static_cast<float>(150000 * 5.0 / 65536 - 5));
  std::vector<std::uint32_t> late(32, 0);
  late.push_back(0x7FFFFFFF);  // the 33rd value is not summed
  EXPECT_NEAR(convert(9, late, 4, 1, 5)[32], 327675.0f, 1.0f);
}

TEST_F(ConvertDataTest, PackedPointsWidenInPlaceForEverySize) {
  const std::vector<std::uint32_t> two{0xFFFE, 0x0001, 0x8000, 0x1234, 0};
  auto v = convert(7, two, 2, 1, 10);
  for (std::size_t i = 0; i < two.size(); ++i) EXPECT_FLOAT_EQ(v[i], volts(two[i])) << i;
  EXPECT_TRUE(logHas("convertData scans= 1; size= 2; volts= 10; factor= 3276.800000"));

  const std::vector<std::uint32_t> three{0x010203, 0x000001, 0x02FF00, 0x00FFFF, 0x0A0B0C};
  v = convert(7, three, 3, 1, 10);
  for (std::size_t i = 0; i < three.size(); ++i) EXPECT_FLOAT_EQ(v[i], volts(three[i])) << i;
  EXPECT_FLOAT_EQ(v[0], volts(66051));

  // Four-byte points are signed: all ones is -1, just below -R.
  v = convert(7, {0xFFFFFFFF, 0x00012345}, 4, 0xFFFF, 10);
  EXPECT_NEAR(v[0], -10.0f, 1e-4);
  EXPECT_NEAR(v[1], 0x12345 * 10.0 / (65535.0 * 32768) - 10, 1e-4);
}

class SpectrumTest : public BenchTest {
 protected:
  SpectrumTest() { setup.set(field::adcVolts, 10); }
  ~SpectrumTest() override { delete[] data; }

  std::int32_t retrieve(std::uint32_t stamp = 0x1234) {
    return rxSpectrum(link, kPort, 7, stamp, data, points, setup, srqCount, benchError);
  }
  void expectVolts(const std::vector<std::uint32_t>& raw) {
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(points, static_cast<std::int32_t>(raw.size()));
    for (std::size_t i = 0; i < raw.size(); ++i) ASSERT_FLOAT_EQ(data[i], volts(raw[i])) << "point " << i;
  }
  // The retrieval failed the way every failure ends: the block released and ABORT the last word.
  void expectFailedWithAbort(std::int32_t result) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(data, nullptr);
    ASSERT_FALSE(controls().empty());
    EXPECT_EQ(controls().back(), link::kAbort);
    EXPECT_TRUE(logHas("ERROR " + std::to_string(benchError) + " retrieving data"));
  }

  BenchSetup setup;
  float* data = nullptr;
  std::int32_t points = -1;
};

std::vector<std::uint32_t> ramp(std::size_t count, std::uint32_t step, std::uint32_t first = 0) {
  std::vector<std::uint32_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = (first + static_cast<std::uint32_t>(i) * step) & 0xFFFF;
  return values;
}

TEST_F(SpectrumTest, RetrievesAWholeBlockOverSeveralPackets) {
  const auto raw = ramp(1024, 64);
  queue(command::dataRequest, block(header(0, 1023), packed(raw, 2)));  // 11 point packets
  EXPECT_EQ(retrieve(0x1234), 1);
  expectVolts(raw);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message, (Bytes{0x80, 0x82, 0x00, 0x00, 0x12, 0x34}));
  EXPECT_EQ(controls(), Bytes(14, link::kAck));
  EXPECT_TRUE(logHas("retrieving data from bench, time= 4660"));
  EXPECT_TRUE(logHas("rxSpectrum: reading 1024 points in 12 packets"));
  EXPECT_TRUE(logHas("Received 1024 points of size 2"));
  EXPECT_TRUE(logHas("convertData scans= 1; size= 2; volts= 10; factor= 3276.800000"));
}

TEST_F(SpectrumTest, RepeatedPacketIsDroppedAndPointsCountFromDataStart) {
  const auto raw = ramp(1024, 37, 5);
  BenchReply reply = block(header(100, 1123, 1, 0x08), packed(raw, 3), 240);  // 13 point packets
  reply.packets.insert(reply.packets.begin() + 4, Bytes(reply.packets[3]));  // the second point packet, twice
  queue(command::dataRequest, reply);
  EXPECT_EQ(retrieve(), 1);
  expectVolts(raw);
  EXPECT_TRUE(logHas("rxSpectrum: reading 1024 points in 14 packets"));
  EXPECT_TRUE(logHas("Received 1024 points of size 3"));
}

TEST_F(SpectrumTest, PointSizeComesFromBitsThreeAndFourOfTheHeader) {
  const auto raw = ramp(8, 1000, 7);
  const std::pair<std::uint8_t, int> sizes[] = {{0x00, 2}, {0xE7, 2}, {0x08, 3}, {0xEF, 3}, {0x10, 4}, {0x18, 4}};
  for (const auto& [bits, size] : sizes) {
    queue(command::dataRequest, block(header(0, 7, 1, bits), packed(raw, size)));
    EXPECT_EQ(retrieve(), 1) << int{bits};
    expectVolts(raw);
    EXPECT_TRUE(logHas("Received 8 points of size " + std::to_string(size))) << int{bits};
    delete[] data;
    data = nullptr;
  }
}

TEST_F(SpectrumTest, ThirdBadCopyOfAPacketBringsTheWholeReplyAgain) {
  const auto raw = ramp(64, 999);
  BenchReply reply = block(header(0, 63), packed(raw, 2), 40);
  reply.damaged[3] = 3;  // the second point packet: NAK, NAK, then RETRY
  queue(command::dataRequest, reply);
  EXPECT_EQ(retrieve(), 1);
  expectVolts(raw);
  EXPECT_EQ(requests.size(), 1u);  // the request itself is not sent again
  const Bytes answers = controls();
  EXPECT_EQ(std::count(answers.begin(), answers.end(), link::kRetry), 1);
  EXPECT_EQ(std::count(answers.begin(), answers.end(), link::kAbort), 0);
}

TEST_F(SpectrumTest, HeadersThatCannotBeRightFailBeforeAnyPointIsRead) {
  struct Case {
    const char* what;
    Bytes head;
    std::uint16_t packets;
  };
  const Case cases[] = {
      {"dataEnd below dataStart", header(10, 5), 3},
      {"no scans", header(0, 99, 0), 3},
      {"more than 4194304 points", header(0, 4194304), 32767},
      {"more points than the packets carry", header(0, 999999), 2},
      {"the widest span", header(-2147483647 - 1, 2147483647), 32767},
  };
  for (const Case& c : cases) {
    peer.sent.clear();
    peer.clearReceiveQueue(kPort);  // what the bench had sent before the last ABORT
    BenchReply reply = block(c.head, {});
    reply.packets = {stxPacket(c.packets), reply.packets[1]};  // the bench sends no point packet
    queue(command::dataRequest, reply);
    SCOPED_TRACE(c.what);
    expectFailedWithAbort(retrieve());
    EXPECT_EQ(controls(), (Bytes{link::kAck, link::kAck, link::kAbort}));  // no wait for points
  }

  // An STX that announces no packet (or, read signed, a negative count) fails at once.
  for (const std::uint16_t count : {0, 0x8000}) {
    peer.sent.clear();
    queue(command::dataRequest, {{stxPacket(count)}, {}});
    expectFailedWithAbort(retrieve());
    EXPECT_EQ(controls(), (Bytes{link::kAck, link::kAbort}));
  }
}

TEST_F(SpectrumTest, FailedReceiveMidReplyAbortsAndReleasesTheBlock) {
  BenchReply reply = block(header(0, 255), packed(ramp(256, 3), 2));
  reply.packets.resize(3);  // STX, header, one point packet; then the bench falls silent
  queue(command::dataRequest, reply);
  benchError = -20;
  expectFailedWithAbort(retrieve());
  EXPECT_TRUE(logHas("ERROR -20 retrieving data"));
  EXPECT_EQ(points, 256);  // known from the header
}

TEST_F(SpectrumTest, PaddingAfterThePointsIsIgnoredWhileItFitsTheBlockBuffer) {
  // Eight 2-byte points: 16 bytes of points in a buffer of 32 (points x 4). Nothing lands past
  // either buffer (the sanitizer build checks).
  const auto raw = ramp(8, 4000, 1);
  struct Case {
    const char* what;
    std::size_t bytes;
    std::size_t chunk;
    bool retrieved;
  };
  const Case cases[] = {
      {"padding that fills the buffer", 32, 200, true},
      {"padding over two packets", 32, 10, true},
      {"one byte past the buffer", 33, 200, false},
      {"one byte short of the points", 15, 200, false},
      {"a packet larger than the packet buffer", 600, 1000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    peer.sent.clear();
    peer.clearReceiveQueue(kPort);  // what the bench had sent before an ABORT
    Bytes points = packed(raw, 2);
    points.resize(c.bytes, 0x7F);
    queue(command::dataRequest, block(header(0, 7), points, c.chunk));
    if (c.retrieved) {
      EXPECT_EQ(retrieve(), 1);
      expectVolts(raw);
    } else {
      expectFailedWithAbort(retrieve());
    }
    delete[] data;
    data = nullptr;
  }
}

TEST_F(SpectrumTest, RequestThatCannotBeSentEndsWithoutAbort) {
  peer.fail("putBlock", 0);
  EXPECT_EQ(retrieve(), 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(controls(), Bytes{});
  EXPECT_EQ(logCount("ERROR " + std::to_string(benchError) + " retrieving data"), 0);
}

}  // namespace
}  // namespace dorvane::testing
