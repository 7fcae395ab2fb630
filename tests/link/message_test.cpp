// Messages: the framing of a send, restarts and failures of a send, and the receive of a reply
// with its rejections, duplicates, silences and replies too long for their buffers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "link/message.h"
#include "tests/link/link_fixture.h"

namespace dorvane::testing {
namespace {

using ::testing::ElementsAre;

class MessageTest : public LinkTest {
 protected:
  // The bench acknowledges each of the next `count` sends.
  void ackAll(int count = 1000) {
    for (int i = 0; i < count; ++i) peer.answer({link::kAck}, 5);
  }
  std::int32_t send(const Bytes& message) {
    return link::txMessage(link, kPort, message.data(), static_cast<std::uint16_t>(message.size()), srqCount,
                           benchError);
  }
  std::vector<Bytes> sentPackets() const {
    std::vector<Bytes> packets;
    for (const auto& s : peer.sent) packets.push_back(s.bytes);
    return packets;
  }

  // The bench sends `packets` one by one, each after the driver's answer to the one before.
  void benchSends(const std::vector<Bytes>& packets) {
    peer.deliver(packets.front(), 10);
    for (std::size_t i = 1; i < packets.size(); ++i) peer.answer(packets[i], 10);
  }
  std::int32_t receive(std::size_t capacity) {
    destination.assign(capacity + kGuard, kGuardByte);
    return link::rxMessage(link, kPort, destination.data(), capacity, dataLength, srqCount, benchError);
  }
  Bytes received() const { return Bytes(destination.begin(), destination.begin() + dataLength); }
  bool guardIntact(std::size_t capacity) const {
    return std::all_of(destination.begin() + static_cast<long>(capacity), destination.end(),
                       [](std::uint8_t b) { return b == kGuardByte; });
  }
  // The answers (control bytes) the driver sent while receiving.
  Bytes answers() const { return peer.allSent(); }

  static constexpr std::size_t kGuard = 64;
  static constexpr std::uint8_t kGuardByte = 0xEE;
  Bytes destination;
  std::int32_t dataLength = -1;
};

TEST_F(MessageTest, CommandWordGoesOutAsTheThreeExamplePackets) {
  ackAll();
  EXPECT_EQ(link::txCommand(link, kPort, 0x8090, srqCount, benchError), 1);
  EXPECT_THAT(sentPackets(), ElementsAre(Bytes{0x82, 0x00, 0x01, 0x00, 0x83},
                                         Bytes{0xC4, 0x00, 0x00, 0x00, 0x02, 0x80, 0x90, 0x01, 0xD6},
                                         Bytes{0x83, 0x00, 0x01, 0x00, 0x84}));
  EXPECT_EQ(benchError, 0);
}

TEST_F(MessageTest, MessagesAreCutIntoPacketsOf240Bytes) {
  ackAll();
  const Bytes exact = counting(240);
  EXPECT_EQ(send(exact), 1);
  EXPECT_THAT(sentPackets(), ElementsAre(stxPacket(1), dataPacket(0, exact), etxPacket(1)));

  peer.sent.clear();
  const Bytes longer = counting(241, 7);
  EXPECT_EQ(send(longer), 1);
  EXPECT_THAT(sentPackets(), ElementsAre(stxPacket(2), dataPacket(0, Bytes(longer.begin(), longer.begin() + 240)),
                                         dataPacket(1, Bytes{longer.back()}), etxPacket(2)));
}

TEST_F(MessageTest, RetryToTheEtxSendsTheWholeMessageAgain) {
  const Bytes message = counting(300);
  peer.answer({link::kAck}, 5);
  peer.answer({link::kAck}, 5);
  peer.answer({link::kAck}, 5);
  peer.answer({link::kRetry}, 5);
  ackAll();
  EXPECT_EQ(send(message), 1);
  const auto once = messagePackets(message);
  std::vector<Bytes> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(sentPackets(), twice);
  EXPECT_EQ(logCount("  txMessage sending STX"), 1);
  EXPECT_EQ(logCount("  txMessage sending ETX"), 2);
}

TEST_F(MessageTest, ABenchThatAsksAgainWithoutEndGetsTheMessageTenTimesMoreThenAbort) {
  for (int i = 0; i < 100; ++i) peer.answer({link::kRetry}, 5);
  EXPECT_EQ(send(counting(300)), -2);
  std::vector<Bytes> expected(11, stxPacket(2));
  expected.push_back({link::kAbort});
  EXPECT_EQ(sentPackets(), expected);
  EXPECT_EQ(benchError, -7);
  const auto lines = logLines();
  EXPECT_THAT(std::vector<std::string>(lines.end() - 2, lines.end()),
              ElementsAre("txMessage: bench asked for the message again too often", "setting error to -7 FFFFFFF9"));

  // A lower layer's code is kept.
  benchError = -12;
  for (int i = 0; i < 100; ++i) peer.answer({link::kRetry}, 5);
  EXPECT_EQ(send(counting(300)), -2);
  EXPECT_EQ(benchError, -12);
}

TEST_F(MessageTest, AbortToADataPacketSkipsTheEtxButStillLogsIt) {
  peer.answer({link::kAck}, 5);
  peer.answer({link::kAbort}, 5);
  EXPECT_EQ(send(counting(20)), -3);
  EXPECT_EQ(peer.sent.size(), 2u);
  EXPECT_EQ(benchError, -6);
  EXPECT_EQ(logCount("  txMessage sending ETX"), 1);
  EXPECT_EQ(logCount("txMessage error -3"), 1);
  EXPECT_EQ(logLines().back(), "setting error to -6 FFFFFFFA");

  // A code already in the word is never replaced.
  benchError = -18;
  peer.answer({link::kAbort}, 5);
  EXPECT_EQ(send(counting(20)), -3);
  EXPECT_EQ(benchError, -18);
}

TEST_F(MessageTest, SendFailuresBecomeMinusFiveOrMinusSeven) {
  EXPECT_EQ(send(counting(2)), -1);  // a silent bench
  EXPECT_EQ(benchError, -5);

  benchError = 0;
  peer.fail("putBlock", 0);
  EXPECT_EQ(send(counting(2)), 0);
  EXPECT_EQ(benchError, -7);
}

TEST_F(MessageTest, ReplyLosesItsLeadingWord) {
  const Bytes reply = counting(118);
  benchSends(messagePackets(reply));
  EXPECT_EQ(receive(256), 1);
  EXPECT_EQ(dataLength, 116);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
  EXPECT_EQ(answers(), Bytes(3, link::kAck));
}

TEST_F(MessageTest, MultiPacketReplyIsAssembledInOrder) {
  const Bytes reply = counting(1000, 3);
  benchSends(messagePackets(reply, 200));
  EXPECT_EQ(receive(1000), 1);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
  EXPECT_TRUE(guardIntact(1000));
}

TEST_F(MessageTest, DamagedPacketIsNakedAndItsResendAccepted) {
  const Bytes reply = counting(50);
  auto packets = messagePackets(reply);
  Bytes damaged = packets[1];
  damaged[10] ^= 0x01;
  peer.deliver(packets[0], 10);
  peer.answer(damaged, 10);     // after the ACK of the STX
  peer.answer(packets[1], 10);  // after the NAK
  peer.answer(packets[2], 10);
  EXPECT_EQ(receive(256), 1);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kNak, link::kAck, link::kAck}));
}

TEST_F(MessageTest, RepeatedPacketsAreAcknowledgedButNotAppended) {
  const Bytes reply = counting(600);
  auto packets = messagePackets(reply);  // STX, 0, 1, 2, ETX
  benchSends({packets[0], packets[1], packets[1], packets[2], packets[2], packets[3], packets[4]});
  EXPECT_EQ(receive(600), 1);
  EXPECT_EQ(dataLength, 598);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
  EXPECT_EQ(answers(), Bytes(7, link::kAck));
}

TEST_F(MessageTest, AFramePacketWhereDataBelongsIsSkippedNeverTakenAsData) {
  // The ETX of count 0 where data packet 0 belongs, then the true ETX: no data byte ever came.
  benchSends({{0x82, 0x00, 0x01, 0x00, 0x83}, {0x83, 0x00, 0x00, 0x00, 0x83}, {0x83, 0x00, 0x01, 0x00, 0x84}});
  EXPECT_EQ(receive(64), -1);
  EXPECT_EQ(dataLength, 0);

  // An STX where data packet 1 belongs is passed over like a repeat; the reply stays whole.
  const Bytes reply = counting(300);
  const auto packets = messagePackets(reply);  // STX(2), 0, 1, ETX(2)
  benchSends({packets[0], packets[1], stxPacket(1), packets[2], packets[3]});
  EXPECT_EQ(receive(300), 1);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
}

TEST_F(MessageTest, AReplyThatCountsNoPacketsIsAbortedNeverTakenAsEmpty) {
  const Bytes emptyStx{0x82, 0x00, 0x00, 0x00, 0x82};
  const Bytes emptyEtx{0x83, 0x00, 0x00, 0x00, 0x83};
  benchSends({emptyStx, emptyEtx});
  EXPECT_EQ(receive(64), -3);
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kAbort}));
  EXPECT_EQ(benchError, 0);

  // Data packet 0 after it is not taken either: the bench has heard the ABORT, the rest is drained.
  peer.sent.clear();
  benchSends({emptyStx, messagePackets(counting(20))[1], emptyEtx});
  EXPECT_EQ(receive(64), -3);
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kAbort}));
  EXPECT_EQ(dataLength, 0);
}

TEST_F(MessageTest, BenchRepeatingOnePacketWithoutEndIsAborted) {
  const auto packets = messagePackets(counting(300));
  std::vector<Bytes> flood{packets[0], packets[1]};
  for (unsigned i = 0; i < link::kMostStrayPackets + 10; ++i) flood.push_back(packets[1]);
  benchSends(flood);
  EXPECT_EQ(receive(300), -3);
  Bytes expected(2 + link::kMostStrayPackets + 1, link::kAck);
  expected.push_back(link::kAbort);
  EXPECT_EQ(answers(), expected);
}

TEST_F(MessageTest, SilentBenchGetsNakNakAbortAtTwoSecondIntervals) {
  benchError = -20;
  EXPECT_EQ(receive(64), -1);
  EXPECT_EQ(answers(), (Bytes{link::kNak, link::kNak, link::kAbort}));
  EXPECT_EQ(peer.sent[0].tick, 2000u);
  EXPECT_EQ(peer.sent[1].tick, 4000u);
  EXPECT_EQ(peer.sent[2].tick, 6000u);
  EXPECT_EQ(benchError, -20);
}

TEST_F(MessageTest, ThirdProblemWithAPacketAsksForTheWholeReplyOnceThenAborts) {
  const Bytes reply = counting(30);
  auto packets = messagePackets(reply);
  Bytes damaged = packets[1];
  damaged.back() ^= 0x10;
  // First delivery: the data packet is damaged three times; the RETRY brings the whole reply.
  peer.deliver(packets[0], 10);
  peer.answer(damaged, 10);
  peer.answer(damaged, 10);
  peer.answer(damaged, 10);
  peer.answer(packets[0], 10);  // after the RETRY
  peer.answer(packets[1], 10);
  peer.answer(packets[2], 10);
  EXPECT_EQ(receive(64), 1);
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kNak, link::kNak, link::kRetry, link::kAck, link::kAck,
                              link::kAck}));
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));

  // When the one RETRY has been used, the next third problem ends the receive with ABORT.
  peer.sent.clear();
  peer.deliver(packets[0], 10);
  for (int i = 0; i < 3; ++i) peer.answer(damaged, 10);
  peer.answer(packets[0], 10);
  for (int i = 0; i < 3; ++i) peer.answer(damaged, 10);
  EXPECT_EQ(receive(64), -3);
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kNak, link::kNak, link::kRetry, link::kAck, link::kNak,
                              link::kNak, link::kAbort}));
}

TEST_F(MessageTest, UnexpectedByteWherePacketShouldStartIsRejectedOnce) {
  peer.deliver({0x41}, 10);
  EXPECT_EQ(receive(64), 0);
  EXPECT_EQ(answers(), Bytes{link::kNak});
}

TEST_F(MessageTest, SrqAndSyncBetweenPacketsAreSkipped) {
  const Bytes reply = counting(10);
  auto packets = messagePackets(reply);
  peer.deliver({link::kSrq, link::kSync}, 5);
  peer.deliver(packets[0], 10);
  peer.answer(join({link::kSrq}, packets[1]), 10);
  peer.answer(packets[2], 10);
  EXPECT_EQ(receive(64), 1);
  EXPECT_EQ(srqCount, 2);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
}

TEST_F(MessageTest, TruncatedHeaderTimesOutAndIsNaked) {
  const Bytes reply = counting(10);
  auto packets = messagePackets(reply);
  peer.deliver({link::kStx}, 10);
  peer.answer(packets[0], 10);  // the resend after the NAK
  peer.answer(packets[1], 10);
  peer.answer(packets[2], 10);
  EXPECT_EQ(receive(64), 1);
  EXPECT_EQ(peer.sent[0].bytes, Bytes{link::kNak});
  EXPECT_EQ(peer.sent[0].tick, 1010u);  // the header read waits one second
}

TEST_F(MessageTest, ReplyLongerThanTheBufferDropsTheExcess) {
  const Bytes reply = counting(700);
  benchSends(messagePackets(reply));
  EXPECT_EQ(receive(300), 1);
  EXPECT_EQ(dataLength, 300);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.begin() + 302));
  EXPECT_TRUE(guardIntact(300));
  EXPECT_EQ(answers(), Bytes(5, link::kAck));
}

TEST_F(MessageTest, OversizePacketIsCheckedWholeButNeverWrittenPastTheBuffer) {
  const Bytes reply = counting(5000);
  benchSends(messagePackets(reply, 5000));
  // The leading word takes no room: the destination fills with data to its last byte.
  EXPECT_EQ(receive(100), 1);
  EXPECT_EQ(dataLength, 100);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.begin() + 102));
  EXPECT_TRUE(guardIntact(100));

  // A damaged oversize packet is still rejected by its checksum.
  auto packets = messagePackets(reply, 5000);
  packets[1][4000] ^= 0x01;
  peer.sent.clear();
  benchSends(packets);
  EXPECT_EQ(receive(100), -1);
  EXPECT_EQ(peer.sent[1].bytes, Bytes{link::kNak});
  EXPECT_TRUE(guardIntact(100));
}

TEST_F(MessageTest, LongestAnnouncedLengthWithTooFewBytesTimesOut) {
  peer.deliver(stxPacket(1), 10);
  peer.answer({link::kData, 0x00, 0x00, 0xFF, 0xFF, 1, 2, 3}, 10);
  // The read of 65537 bytes times out after two seconds; the bytes that did come are dropped with
  // it, and the bench, silent since, gets NAK, NAK, ABORT.
  EXPECT_EQ(receive(64), -1);
  EXPECT_TRUE(guardIntact(64));
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kNak, link::kNak, link::kAbort}));
  EXPECT_EQ(peer.sent[1].tick, 2020u);
  EXPECT_EQ(peer.clears.size(), 1u);
}

TEST_F(MessageTest, PacketThatLostAByteIsNakedAndItsResendAccepted) {
  const Bytes reply = counting(300);
  auto packets = messagePackets(reply);
  Bytes shortened = packets[1];
  shortened.erase(shortened.begin() + 100);
  peer.deliver(packets[0], 10);
  peer.answer(shortened, 10);
  peer.answer(packets[1], 10);  // after the NAK
  peer.answer(packets[2], 10);
  peer.answer(packets[3], 10);
  EXPECT_EQ(receive(400), 1);
  EXPECT_EQ(received(), Bytes(reply.begin() + 2, reply.end()));
  EXPECT_EQ(answers(), (Bytes{link::kAck, link::kNak, link::kAck, link::kAck, link::kAck}));
}

TEST_F(MessageTest, FirstPacketShorterThanTheLeadingWordLeavesNoData) {
  benchSends({stxPacket(2), dataPacket(0, {0x42}), dataPacket(1, {1, 2, 3}), etxPacket(2)});
  EXPECT_EQ(receive(64), 1);
  EXPECT_EQ(received(), (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace dorvane::testing
