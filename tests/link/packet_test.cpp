// txPacket: how the send of one packet reacts to each answer of the bench, and when it gives up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/packet.h"
#include "link/packet_decoder.h"
#include "tests/link/link_fixture.h"

namespace dorvane::testing {
namespace {

using ::testing::ElementsAre;

class PacketTest : public LinkTest {
 protected:
  std::int32_t send() {
    return link::txPacket(link, kPort, packet.data(), static_cast<std::int32_t>(packet.size()), srqCount,
                          benchError);
  }
  // The ticks of the driver's sends that equal `bytes`.
  std::vector<std::uint32_t> sendsOf(const Bytes& bytes) const {
    std::vector<std::uint32_t> ticks;
    for (const auto& s : peer.sent)
      if (s.bytes == bytes) ticks.push_back(s.tick);
    return ticks;
  }

  const Bytes packet = stxPacket(1);
};

TEST_F(PacketTest, NineNaksThenAckSendThePacketTenTimes) {
  for (int i = 0; i < 9; ++i) peer.answer({link::kNak}, 10);
  peer.answer({link::kAck}, 10);
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(sendsOf(packet).size(), 10u);
  EXPECT_EQ(peer.sent.size(), 10u);
  EXPECT_EQ(logCount("txPacket go to RETRAN"), 9);
  EXPECT_EQ(benchError, 0);
}

TEST_F(PacketTest, TenthNakFailsWithMinusFourAndNoAbort) {
  for (int i = 0; i < 10; ++i) peer.answer({link::kNak}, 10);
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(benchError, -4);
  EXPECT_EQ(peer.sent.size(), 10u);
  EXPECT_TRUE(sendsOf({link::kAbort}).empty());
}

TEST_F(PacketTest, SilentBenchGetsTwoSyncsThenAbortAtTwoSecondIntervals) {
  benchError = -20;
  EXPECT_EQ(send(), -1);
  ASSERT_EQ(peer.sent.size(), 4u);
  EXPECT_EQ(peer.sent[0].tick, 0u);
  EXPECT_EQ(sendsOf({link::kSync}), (std::vector<std::uint32_t>{2000, 4000}));
  EXPECT_EQ(sendsOf({link::kAbort}), (std::vector<std::uint32_t>{6000}));
  ASSERT_EQ(peer.clears.size(), 1u);
  EXPECT_EQ(peer.clears[0].first, 6000u);
  EXPECT_EQ(benchError, -20);
  EXPECT_EQ(logCount("txPacket: timeOutCnt = 0"), 1);
  EXPECT_EQ(logCount("txPacket: timeOutCnt = 2"), 1);
  EXPECT_EQ(logCount("txPacket too many timeouts"), 1);
  EXPECT_EQ(logCount("    txPacket timedout getting response"), 3);
}

TEST_F(PacketTest, UnknownAnswerClearsTheQueueAndCountsAsATimeout) {
  peer.answer({0x41, 0x42, 0x43}, 300);  // the rest of the noise is stale once the first is seen
  peer.answer({link::kAck}, 100);        // the answer to the SYNC
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(logCount("    txPacket got a ??? 0x41"), 1);
  ASSERT_EQ(peer.clears.size(), 1u);
  EXPECT_EQ(peer.clears[0].second, 2u);
  EXPECT_EQ(sendsOf({link::kSync}), (std::vector<std::uint32_t>{300}));
}

TEST_F(PacketTest, RetransmissionStartsTheTimeoutCountAgain) {
  peer.answer({});                  // the packet: silence, then a SYNC
  peer.answer({});                  // the first SYNC: silence, then a second SYNC
  peer.answer({link::kNak}, 5);     // the second SYNC is answered NAK: the packet goes again
  peer.answer({});                  // two more silences would have been too many before
  peer.answer({});
  peer.answer({link::kAck}, 5);
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(sendsOf({link::kSync}).size(), 4u);
  EXPECT_EQ(sendsOf(packet).size(), 2u);
}

TEST_F(PacketTest, SrqIsCountedAndTheNextWaitGetsItsFullTime) {
  srqCount = 0xFFFF;
  peer.answer({link::kSrq}, 1500);
  peer.deliver({link::kSrq}, 3000);
  peer.deliver({link::kAck}, 4900);
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(srqCount, 1);  // the counter is 16 bits wide and wraps
  EXPECT_TRUE(sendsOf({link::kSync}).empty());
  EXPECT_EQ(logCount("    txPacket got a SRQ"), 2);
}

TEST_F(PacketTest, BenchAbortAndRetryEndTheSendAtOnce) {
  peer.answer({link::kAbort}, 10);
  EXPECT_EQ(send(), -3);
  EXPECT_EQ(logLines().back(), "    txPacket got a ABORT");
  peer.answer({link::kRetry}, 10);
  EXPECT_EQ(send(), -2);
  EXPECT_EQ(logLines().back(), "    txPacket got a RETRY");
  EXPECT_EQ(benchError, 0);
}

TEST_F(PacketTest, EndlessSrqStopsKeepingTheSendWaitingAfterThePatience) {
  peer.answer({link::kSrq}, 250);
  for (std::uint32_t at = 500; at <= 60000; at += 250) peer.deliver({link::kSrq}, at);
  EXPECT_EQ(send(), -1);
  ASSERT_EQ(sendsOf({link::kAbort}).size(), 1u);
  EXPECT_GE(sendsOf({link::kAbort})[0], link::kSrqPatienceMs);
  EXPECT_LT(sendsOf({link::kAbort})[0], link::kSrqPatienceMs + 1000);
}

TEST_F(PacketTest, SrqPatienceRunsFromTheBenchsLastOtherByte) {
  // Eight NAKs over 9.6 s, then nothing but SRQ: the patience starts at the last NAK.
  for (std::uint32_t i = 0; i < 8; ++i) peer.answer({link::kNak}, 1200);
  peer.answer({link::kSrq}, 250);
  constexpr std::uint32_t kLastNak = 8 * 1200;
  for (std::uint32_t at = kLastNak + 500; at <= 60000; at += 250) peer.deliver({link::kSrq}, at);
  EXPECT_EQ(send(), -1);
  ASSERT_EQ(sendsOf({link::kAbort}).size(), 1u);
  EXPECT_GE(sendsOf({link::kAbort})[0], kLastNak + link::kSrqPatienceMs);
}

TEST_F(PacketTest, FailedSendsEndTheCallWithZero) {
  peer.systemError = 31;
  peer.fail("putBlock", -1);
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(logLines().back(), "    txPacket => txBytes failed 31");

  // The first send goes; the retransmission after a NAK fails.
  peer.react([](ScriptedPeer& p, const Bytes&) {
    p.deliver({link::kNak}, 10);
    p.fail("putBlock", -1);
  });
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(peer.sent.size(), 1u);
  EXPECT_EQ(benchError, 0);

  peer.fail("putByte", -103);  // the SYNC after a silence
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(benchError, -103);
}

TEST_F(PacketTest, LogTellsTheWholeExchange) {
  peer.answer({link::kNak}, 10);
  peer.answer({link::kAck}, 10);
  EXPECT_EQ(send(), 1);
  EXPECT_THAT(logLines(),
              ElementsAre("dorvane.dll.txPacket", "dorvane.dll.txBytes numBytes= 5", "txPacket REREAD",
                          "txPacket calling rxChar", "    txPacket got a NAK", "txPacket go to RETRAN",
                          "dorvane.dll.txBytes numBytes= 5", "txPacket REREAD", "txPacket calling rxChar",
                          "    txPacket got an ACK"));
}

// The decoder alone: any cut of the bytes gives the same packets, a payload longer than the
// buffer is checked whole but kept only as far as the buffer reaches, and damage or noise is told.
TEST(PacketDecoderTest, DecodesWhateverTheCutKeepsWithinTheBufferAndTellsDamage) {
  const Bytes payload = counting(20, 7);
  const Bytes stream = join(join(stxPacket(1), dataPacket(0, payload)), etxPacket(1));
  for (std::size_t cut : {std::size_t{1}, std::size_t{3}, stream.size()}) {
    Bytes kept(payload.size() + 2);
    link::PacketDecoder decoder(kept.data(), kept.size());
    std::vector<std::pair<std::uint8_t, std::uint16_t>> packets;
    for (std::size_t at = 0; at < stream.size();) {
      std::size_t used = 0;
      const auto event = decoder.feed(stream.data() + at, std::min(cut, stream.size() - at), used);
      at += used;
      if (event == link::DecodeEvent::packet) packets.emplace_back(decoder.packet().type, decoder.packet().number);
      else ASSERT_EQ(event, link::DecodeEvent::needMore);
    }
    EXPECT_THAT(packets, ElementsAre(std::pair{link::kStx, 1}, std::pair{link::kData, 0}, std::pair{link::kEtx, 1}));
    EXPECT_EQ(Bytes(kept.begin(), kept.begin() + 20), payload);
  }

  Bytes small(8, 0xEE);
  link::PacketDecoder decoder(small.data(), 5);
  std::size_t used = 0;
  const Bytes data = dataPacket(4, payload);
  EXPECT_EQ(decoder.feed(data.data(), data.size(), used), link::DecodeEvent::packet);
  EXPECT_EQ(decoder.packet().payload, 20);
  EXPECT_EQ(decoder.packet().stored, 5);
  EXPECT_EQ(small, join(Bytes(payload.begin(), payload.begin() + 5), Bytes(3, 0xEE)));

  Bytes damaged = data;
  damaged[9] ^= 0x40;
  EXPECT_EQ(decoder.feed(damaged.data(), damaged.size(), used), link::DecodeEvent::badChecksum);
  EXPECT_EQ(decoder.packet().number, 4);
  EXPECT_EQ(decoder.feed(link::kSrq), link::DecodeEvent::strayByte);
  EXPECT_EQ(decoder.feed(link::kStx), link::DecodeEvent::needMore);
  EXPECT_EQ(decoder.stage(), link::DecodeStage::header);
  EXPECT_EQ(decoder.wanted(), 4u);
}

}  // namespace
}  // namespace dorvane::testing
