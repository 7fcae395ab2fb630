// The bench's end of the link, driven from the pty's slave the way the driver drives it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

#include "link/byte_order.h"
#include "sim/bench_link.h"
#include "sim/pseudo_terminal.h"
#include "tests/sim/driver_end.h"

namespace dorvane::sim::testing {
namespace {

using ::testing::ElementsAre;
using link::kAbort, link::kAck, link::kNak, link::kRetry, link::kSrq, link::kSync, link::kData, link::kStx;

// The 2-byte command 0x8090 exactly as the driver puts it on the wire.
const Bytes kCommand{0x80, 0x90};
const Bytes kStx1{0x82, 0x00, 0x01, 0x00, 0x83};
const Bytes kData0{0xC4, 0x00, 0x00, 0x00, 0x02, 0x80, 0x90, 0x01, 0xD6};
const Bytes kEtx1{0x83, 0x00, 0x01, 0x00, 0x84};

Bytes pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + size);
  return bytes;
}

Bytes frame(std::uint8_t type, std::uint16_t count) {
  Bytes packet(link::kFramePacketSize);
  link::buildFramePacket(type, count, packet.data());
  return packet;
}

Bytes dataPacket(std::uint16_t number, const Bytes& payload) {
  Bytes packet(link::kPacketHeaderSize + payload.size() + link::kChecksumSize);
  link::buildDataPacket(number, payload.data(), static_cast<std::uint16_t>(payload.size()), packet.data());
  return packet;
}

class BenchLinkTest : public ::testing::Test {
 protected:
  // The bench's own time limits are far beyond any pause of this test's driver, even on a loaded
  // machine, unless a test asks for less: no test here waits for the bench to give up on it, but
  // one that sends a 64 KB packet through the pty pauses between its writes.
  void start(BenchLinkOptions options = {}) {
    options.byteTimeout = std::max(options.byteTimeout, std::chrono::milliseconds(60000));
    options.answerTimeout = std::max(options.answerTimeout, std::chrono::milliseconds(60000));
    startWith(options);
  }
  void startWith(const BenchLinkOptions& options) {
    auto handler = [this](const Bytes& request) {
      std::lock_guard lock(mutex);
      requests.push_back(request);
      return reply;
    };
    bench = std::make_unique<BenchLink>(pty.masterFd(), handler, options);
    bench->start();
  }
  std::vector<Bytes> received() {
    std::lock_guard lock(mutex);
    return requests;
  }
  void replyWith(const Bytes& message) {
    std::lock_guard lock(mutex);
    reply = message;
  }
  std::optional<std::uint8_t> exchange(const Bytes& packet) {
    driver.send(packet);
    return driver.readByte();
  }
  void waitFor(std::uint64_t BenchStats::*counter, std::uint64_t value) {
    ASSERT_TRUE(bench->waitUntil([&](const BenchStats& s) { return s.*counter >= value; }, std::chrono::seconds(60)));
  }
  // The bench has written nothing that the test has not read: an SRQ asked for now comes next.
  void expectNothingMoreSent() {
    bench->sendSrq(1);
    EXPECT_EQ(driver.readByte(), kSrq);
  }
  // Acknowledges reply packets up to and including the ETX.
  void ackToEnd() {
    for (Bytes packet; (packet = driver.readPacket()).size() > 0 && packet[0] != link::kEtx;) driver.send({kAck});
    driver.send({kAck});
  }

  PseudoTerminal pty;
  DriverEnd driver{pty.slavePath()};
  std::mutex mutex;
  std::vector<Bytes> requests;
  std::optional<Bytes> reply;
  std::unique_ptr<BenchLink> bench;  // last: stopped before what its handler uses goes
};

TEST_F(BenchLinkTest, ExampleCommandIsAckedPacketByPacketAndDelivered) {
  start();
  EXPECT_EQ(exchange(kStx1), kAck);
  EXPECT_EQ(exchange(kData0), kAck);
  EXPECT_EQ(exchange(kEtx1), kAck);
  EXPECT_THAT(received(), ElementsAre(kCommand));
  expectNothingMoreSent();  // the handler returned no reply
}

TEST_F(BenchLinkTest, DamagedPacketIsNakedAndNeitherSyncNorRepeatAppendsTwice) {
  start();
  Bytes damaged = kData0;
  damaged[6] ^= 0x10;
  EXPECT_EQ(exchange(kStx1), kAck);
  EXPECT_EQ(exchange(damaged), kNak);
  EXPECT_EQ(exchange({kSync}), kNak);  // a lost answer is asked for again
  EXPECT_EQ(exchange(kData0), kAck);
  EXPECT_EQ(exchange({kSync}), kAck);
  EXPECT_EQ(exchange(kData0), kAck);  // a repeat: acknowledged, not appended
  EXPECT_EQ(exchange(kEtx1), kAck);
  EXPECT_THAT(received(), ElementsAre(kCommand));
  EXPECT_EQ(bench->stats().damagedPackets, 1u);
}

TEST_F(BenchLinkTest, TruncatedPacketsAreDroppedUnansweredAndServiceGoesOn) {
  // Each fragment goes in one write, so the bench sees it whole and then a silence; a short limit
  // ends that silence soon.
  BenchLinkOptions options;
  options.byteTimeout = std::chrono::milliseconds(100);
  startWith(options);
  driver.send({kData, 0, 0, 0xFF, 0xFF, 1, 2, 3});  // announces 65535 bytes, brings 3
  waitFor(&BenchStats::truncatedPackets, 1);
  driver.send({kStx, 0});
  waitFor(&BenchStats::truncatedPackets, 2);
  EXPECT_EQ(exchange(kStx1), kAck);  // the first byte since: nothing answered the fragments
  EXPECT_EQ(exchange(kData0), kAck);
  EXPECT_EQ(exchange(kEtx1), kAck);
  EXPECT_THAT(received(), ElementsAre(kCommand));
}

TEST_F(BenchLinkTest, OversizeRequestIsAbortedWithoutOverrun) {
  start();
  EXPECT_EQ(exchange(frame(kStx, 2)), kAck);
  EXPECT_EQ(exchange(dataPacket(0, pattern(65535))), kAck);
  EXPECT_EQ(exchange(dataPacket(1, {0x01})), kAbort);  // 65536 bytes: more than a message holds
  EXPECT_EQ(exchange(frame(link::kEtx, 2)), kRetry);
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_THAT(received(), ElementsAre(kCommand));
}

TEST_F(BenchLinkTest, GapStrayEtxOrDriverAbortNeverDeliversAPartialRequest) {
  start();
  const auto packets = packetsOf(pattern(500));  // STX, 3 data packets, ETX
  EXPECT_EQ(exchange(packets[0]), kAck);
  EXPECT_EQ(exchange(packets[2]), kRetry);  // packet 1 before packet 0
  EXPECT_EQ(exchange(packets[0]), kAck);
  EXPECT_EQ(exchange(packets[1]), kAck);
  driver.send({kAbort});
  EXPECT_EQ(exchange(packets[4]), kRetry);
  EXPECT_TRUE(received().empty());
  ASSERT_TRUE(driver.sendMessage(pattern(500)));
  EXPECT_THAT(received(), ElementsAre(pattern(500)));
}

TEST_F(BenchLinkTest, ReplyIsFramedInPacketsWithValidChecksums) {
  replyWith(pattern(600));
  BenchLinkOptions options;
  options.replyPayload = 254;
  start(options);
  ASSERT_TRUE(driver.sendMessage(kCommand));
  std::vector<Bytes> packets;
  for (int i = 0; i < 5; ++i) {
    packets.push_back(driver.readPacket());
    driver.send({kAck});
  }
  EXPECT_EQ(packets[0], frame(kStx, 3));
  EXPECT_EQ(packets[4], frame(link::kEtx, 3));
  Bytes joined;
  for (std::uint16_t n = 0; n < 3; ++n) {
    const Bytes& p = packets[1 + n];
    ASSERT_TRUE(checksumOk(p));
    EXPECT_EQ(p[0], kData);
    EXPECT_EQ(link::getBE16(p.data() + 1), n);
    EXPECT_EQ(link::getBE16(p.data() + 3), n < 2 ? 254 : 92);
    joined.insert(joined.end(), p.begin() + 5, p.end() - 2);
  }
  EXPECT_EQ(joined, pattern(600));
  waitFor(&BenchStats::repliesSent, 1);
}

TEST_F(BenchLinkTest, ReplyPacketComesAgainOnNakButNotForSyncOrSrq) {
  replyWith(pattern(300));
  start();
  ASSERT_TRUE(driver.sendMessage(kCommand));
  const Bytes stx = driver.readPacket();
  driver.send({kNak});
  EXPECT_EQ(driver.readPacket(), stx);
  driver.send({kSync, kSrq, kAck});
  const Bytes message = pattern(300);
  EXPECT_EQ(driver.readPacket(), dataPacket(0, Bytes(message.begin(), message.begin() + 240)));
  driver.send({kAck});
  ackToEnd();
  waitFor(&BenchStats::repliesSent, 1);
}

TEST_F(BenchLinkTest, RetryRestartsTheReplyFromStxAndAbortOrANewMessageEndsIt) {
  replyWith(pattern(300));
  start();
  ASSERT_TRUE(driver.sendMessage(kCommand));
  const Bytes stx = driver.readPacket();
  driver.send({kAck});
  driver.readPacket();
  driver.send({kRetry});
  EXPECT_EQ(driver.readPacket(), stx);
  driver.send({kAck});
  driver.readPacket();
  driver.send({kAbort});
  waitFor(&BenchStats::repliesAbandoned, 1);
  expectNothingMoreSent();

  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_EQ(driver.readPacket(), stx);
  ASSERT_TRUE(driver.sendMessage(kCommand));  // the driver gave up on that reply
  EXPECT_EQ(driver.receiveMessage(), pattern(300));
  EXPECT_EQ(bench->stats().repliesAbandoned, 2u);
  EXPECT_EQ(received().size(), 3u);
}

TEST_F(BenchLinkTest, NakFaultNaksThatManyIntactPacketsOnly) {
  start();
  bench->faults().add(Fault::nak(2));
  Bytes damaged = kStx1;
  damaged[4] ^= 1;
  EXPECT_EQ(exchange(kStx1), kNak);
  EXPECT_EQ(exchange(damaged), kNak);  // its own NAK, not the fault's
  EXPECT_EQ(exchange(kStx1), kNak);
  EXPECT_EQ(exchange(kStx1), kAck);
  EXPECT_EQ(bench->faults().applied().size(), 2u);
}

TEST_F(BenchLinkTest, SilencedAckComesForSyncAndHoldsBackTheReply) {
  replyWith(pattern(10));
  start();
  EXPECT_EQ(exchange(kStx1), kAck);
  EXPECT_EQ(exchange(kData0), kAck);
  bench->faults().add(Fault::silence());
  driver.send(kEtx1);
  waitFor(&BenchStats::packetsReceived, 3);
  expectNothingMoreSent();
  EXPECT_EQ(exchange({kSync}), kAck);
  EXPECT_EQ(driver.receiveMessage(), pattern(10));
}

TEST_F(BenchLinkTest, GarbageAnswerIsMendedBySyncAndSrqBurstPrecedesAnswer) {
  start();
  bench->faults().add(Fault::garbageAnswer());
  bench->faults().add(Fault::srqBurst(3));
  EXPECT_EQ(exchange(kStx1), 0x41);
  EXPECT_EQ(exchange({kSync}), kAck);
  driver.send(kData0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(driver.readByte(), kSrq);
  EXPECT_EQ(driver.readByte(), kAck);
}

TEST_F(BenchLinkTest, RetryAndAbortFaultsDropTheRequestInProgress) {
  start();
  for (const Fault& fault : {Fault::retry(), Fault::abortAnswer()}) {
    EXPECT_EQ(exchange(kStx1), kAck);
    EXPECT_EQ(exchange(kData0), kAck);
    bench->faults().add(fault);
    EXPECT_EQ(exchange(kEtx1), fault.kind == FaultKind::RetryAnswer ? kRetry : kAbort);
  }
  EXPECT_TRUE(received().empty());
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_THAT(received(), ElementsAre(kCommand));
}

TEST_F(BenchLinkTest, CorruptReplyPacketDamagesOneByteOfItsFirstCopyOnly) {
  replyWith(pattern(10));
  start();
  bench->faults().add(Fault::corruptReplyPacket());
  ASSERT_TRUE(driver.sendMessage(kCommand));
  const Bytes damagedStx = driver.readPacket();
  driver.send({kNak});
  EXPECT_EQ(driver.readPacket(), frame(kStx, 1));
  EXPECT_EQ(damagedStx, (Bytes{kStx, 0, 1, 0, 0x83 ^ 0xFF}));
  bench->faults().add(Fault::corruptReplyPacket(6));  // the bench waits for the STX's answer
  driver.send({kAck});
  const Bytes clean = dataPacket(0, pattern(10));
  Bytes damaged = driver.readPacket();
  EXPECT_FALSE(checksumOk(damaged));
  damaged[6] ^= 0xFF;
  EXPECT_EQ(damaged, clean);
  driver.send({kNak});
  EXPECT_EQ(driver.readPacket(), clean);
  driver.send({kAck});
  ackToEnd();
  waitFor(&BenchStats::repliesSent, 1);
}

TEST_F(BenchLinkTest, DuplicateReplyDataPacketComesAgainAfterItsAck) {
  replyWith(pattern(300));
  start();
  bench->faults().add(Fault::duplicateReplyPacket());
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_EQ(driver.readPacket()[0], kStx);  // frame packets are never repeated
  driver.send({kAck});
  const Bytes first = driver.readPacket();
  driver.send({kAck});
  EXPECT_EQ(driver.readPacket(), first);
  driver.send({kAck});
  EXPECT_EQ(link::getBE16(driver.readPacket().data() + 1), 1);
  driver.send({kAck});
  ackToEnd();
  waitFor(&BenchStats::repliesSent, 1);
}

TEST_F(BenchLinkTest, GarbageBeforeAndAbortInPlaceOfReplyPackets) {
  replyWith(pattern(10));
  start();
  bench->faults().add(Fault::garbageBeforeReplyPacket());
  bench->faults().add(Fault::abortReply());
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_EQ(driver.readPacket(), Bytes{0x41});
  EXPECT_EQ(driver.readPacket(), frame(kStx, 1));
  driver.send({kAck});
  EXPECT_EQ(driver.readPacket(), Bytes{kAbort});
  waitFor(&BenchStats::repliesAbandoned, 1);
  expectNothingMoreSent();
}

TEST_F(BenchLinkTest, RecoverableRandomFaultsStillDeliverEveryMessageIntact) {
  start();
  FaultOdds odds = FaultOdds::recoverable(0.15);
  odds.silence = 0;  // only the driver's 2 s time-out mends it; the plan's own test covers it
  bench->faults().randomize(42, odds);
  std::vector<Bytes> sent;
  for (std::size_t i = 0; i < 20; ++i) {
    sent.push_back(pattern(1 + i * 61));
    replyWith(pattern(2 + i * 97));
    ASSERT_TRUE(driver.sendMessage(sent.back())) << "message " << i;
    ASSERT_EQ(driver.receiveMessage(), pattern(2 + i * 97)) << "reply " << i;
  }
  EXPECT_EQ(received(), sent);
  EXPECT_GT(bench->faults().applied().size(), 20u);
}

TEST_F(BenchLinkTest, StopWakesTheBenchWaitingForAnAnswer) {
  replyWith(pattern(10));
  BenchLinkOptions options;
  options.answerTimeout = std::chrono::hours(1);  // a stop that waits for it hangs the test
  start(options);
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_EQ(driver.readPacket(), frame(kStx, 1));
  waitFor(&BenchStats::replyPacketsSent, 1);
  bench->stop();
}

TEST_F(BenchLinkTest, StopWakesTheBenchPacingAReply) {
  replyWith(pattern(240));
  BenchLinkOptions options;
  options.baud = 300;  // 33 ms a byte: the data packet takes 8 s
  start(options);
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_EQ(driver.readPacket(), frame(kStx, 1));
  driver.send({kAck});
  EXPECT_EQ(driver.readByte(), kData);
  bench->stop();
}

TEST_F(BenchLinkTest, IdleBenchSendsSyncBytesThatTheDriverSkips) {
  BenchLinkOptions options;
  options.idleSyncInterval = std::chrono::milliseconds(5);
  start(options);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(driver.readByte(), kSync);
  ASSERT_TRUE(driver.sendMessage(kCommand));
  EXPECT_THAT(received(), ElementsAre(kCommand));
}

}  // namespace
}  // namespace dorvane::sim::testing
