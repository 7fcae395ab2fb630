// The bench requests against a scripted bench: the exact messages, the replies read back, the
// waits on the virtual clock and the codes left in the error word.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "bench/requests.h"
#include "link/byte_order.h"
#include "tests/bench/bench_fixture.h"

namespace dorvane::testing {
namespace {

using namespace bench;
using ::testing::Each;
using ::testing::ElementsAre;

using BenchRequestTest = BenchTest;

// An STX and an ETX that count no data packets.
const BenchReply kEmptyReply{{{0x82, 0x00, 0x00, 0x00, 0x82}, {0x83, 0x00, 0x00, 0x00, 0x83}}, {}};

TEST_F(BenchRequestTest, TransmitSetupReadsTheRecordIntoHostOrder) {
  Bytes record(kBenchSetupSize, 0);
  link::putBE32(record.data(), 0x41B51234);
  link::putBE16(record.data() + 12, 16);
  link::putBE32(record.data() + 20, 16448);
  record[107] = 10;
  for (std::size_t i = 108; i < kBenchSetupSize; ++i) record[i] = static_cast<std::uint8_t>(i);
  queue(command::transmitSetup, replyOf(record));
  auto setup = std::make_unique<BenchSetup>();
  setup->bytes.fill(0xEE);
  EXPECT_EQ(transmitSetup(link, kPort, *setup, benchError), 0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message, (Bytes{0x80, 0x90}));
  EXPECT_EQ(setup->get(field::serialNumber), 0x41B51234u);
  EXPECT_EQ(setup->get(field::sampScans), 16u);
  EXPECT_EQ(setup->get(field::dataPoints), 16448u);
  EXPECT_EQ(setup->get(field::adcVolts), 10u);
  // A whole record comes through, the last bytes of its tail too.
  EXPECT_EQ(Bytes(setup->bytes.begin() + 104, setup->bytes.end()), Bytes(record.begin() + 104, record.end()));
  EXPECT_TRUE(logHas("sending TRANSMIT SETUP"));

  // A longer reply is cut at 116 bytes.
  const Bytes longer = counting(400);
  queue(command::transmitSetup, replyOf(longer));
  EXPECT_EQ(transmitSetup(link, kPort, *setup, benchError), 0);
  EXPECT_EQ(Bytes(setup->bytes.begin() + 104, setup->bytes.end()), Bytes(longer.begin() + 104, longer.begin() + 116));
  EXPECT_EQ(benchError, 0);
}

TEST_F(BenchRequestTest, TransmitSetupFailuresClearTheRecordAndReplaceOnlyALowerCode) {
  BenchSetup setup;
  setup.bytes.fill(0xEE);
  peer.fail("putBlock", 0);
  EXPECT_EQ(transmitSetup(link, kPort, setup, benchError), -2);
  EXPECT_THAT(setup.bytes, Each(0));
  EXPECT_EQ(benchError, -2);
  EXPECT_TRUE(logHas("setting error to -2 FFFFFFFE"));

  // The bench takes the request but never answers: no layer below wrote a code, so none is set.
  benchError = 0;
  setup.bytes.fill(0xEE);
  EXPECT_EQ(transmitSetup(link, kPort, setup, benchError), -3);
  EXPECT_THAT(setup.bytes, Each(0));
  EXPECT_EQ(benchError, 0);
  EXPECT_TRUE(logHas("rxMessage error 0"));

  benchError = -20;
  EXPECT_EQ(transmitSetup(link, kPort, setup, benchError), -3);
  EXPECT_EQ(benchError, -3);
  EXPECT_TRUE(logHas("rxMessage error -20"));
  EXPECT_TRUE(logHas("setting error to -3 FFFFFFFD"));

  // A reply that counts no packets fails as one that never came, never as a record of zeros.
  benchError = 0;
  setup.bytes.fill(0xEE);
  queue(command::transmitSetup, kEmptyReply);
  EXPECT_EQ(transmitSetup(link, kPort, setup, benchError), -3);
  EXPECT_THAT(setup.bytes, Each(0));
  EXPECT_EQ(benchError, 0);
}

TEST_F(BenchRequestTest, PutSetupSendsTheRecordBigEndianAndLeavesItInHostOrder) {
  ScanSettings settings;
  settings.set(field::sampScans, 16);
  settings.set(field::dataPoints, 16448);
  settings.set(field::primaryZpd, 1);
  settings.set(field::adcStatus, 0x51);
  settings.set(field::iris, 5000);
  ScanSettings expected = settings;
  expected.setCommand(kPutSetupCommand);

  EXPECT_EQ(txSetup(link, kPort, settings, srqCount, benchError), 1);
  Bytes wire(kScanSettingsSize, 0);
  link::putBE16(wire.data(), 0x8280);
  link::putBE16(wire.data() + 14, 16);
  link::putBE32(wire.data() + 22, 16448);
  link::putBE32(wire.data() + 26, 1);
  wire[34] = 0x51;
  link::putBE16(wire.data() + 42, 5000);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].message, wire);
  EXPECT_EQ(settings.bytes, expected.bytes);
  EXPECT_TRUE(logHas("dorvane.dll txSetup"));

  peer.fail("putBlock", 0);
  EXPECT_EQ(txSetup(link, kPort, settings, srqCount, benchError), 0);
  EXPECT_EQ(settings.bytes, expected.bytes);
}

TEST_F(BenchRequestTest, TransmitStatusFillsTheTablesAndReportsNewSrqAsTheFlag) {
  const auto scramble = [this] {
    tables.flags.fill(0xAAAA);
    tables.stamps.fill(0xAAAAAAAA);
  };
  std::uint16_t word = 0;
  std::uint16_t flag = 7;
  scramble();
  queue(command::transmitStatus, statusReply(spec_stat::busy));
  EXPECT_EQ(transmitStatus(link, kPort, word, flag, tables, benchError), 1);
  EXPECT_EQ(requests.at(0).message, (Bytes{0x80, 0x88}));
  EXPECT_EQ(word, spec_stat::busy);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(tables.flags[0], 0);
  EXPECT_EQ(tables.stamps[0], 0u);
  EXPECT_TRUE(logHas("sending TRANSMIT STATUS"));
  EXPECT_TRUE(logHas("Receiving STATUS"));

  // The link counts three SRQ bytes into the flag on the way; newSrq alone decides what it ends as.
  scramble();
  BenchReply reply = statusReply(spec_stat::newSrq, {{0x4000, 101}, {0x0080, 102}, {0x0020, 0xFFFFFFFF}});
  reply.packets[1] = join({link::kSrq, link::kSrq, link::kSrq}, reply.packets[1]);
  queue(command::transmitStatus, reply);
  EXPECT_EQ(transmitStatus(link, kPort, word, flag, tables, benchError), 1);
  EXPECT_EQ(word, spec_stat::newSrq);
  EXPECT_EQ(flag, 1);
  EXPECT_THAT(std::vector<std::uint16_t>(tables.flags.begin(), tables.flags.begin() + 4),
              ElementsAre(0x4000, 0x0080, 0x0020, 0));
  EXPECT_THAT(std::vector<std::uint32_t>(tables.stamps.begin(), tables.stamps.begin() + 4),
              ElementsAre(101u, 102u, 0xFFFFFFFFu, 0u));

  EXPECT_EQ(benchError, 0);
}

TEST_F(BenchRequestTest, TransmitStatusFailsWithMinus18AndKeepsAtMost255Blocks) {
  std::uint16_t word = 0;
  std::uint16_t flag = 0;
  EXPECT_EQ(transmitStatus(link, kPort, word, flag, tables, benchError), 0);
  EXPECT_EQ(benchError, -18);
  EXPECT_TRUE(logHas("setting error to -18 FFFFFFEE"));

  // A reply that counts no packets is no "idle, no blocks": it fails the same way.
  benchError = 0;
  queue(command::transmitStatus, kEmptyReply);
  EXPECT_EQ(transmitStatus(link, kPort, word, flag, tables, benchError), 0);
  EXPECT_EQ(benchError, -18);

  std::vector<Block> blocks;
  for (std::uint32_t i = 0; i < 300; ++i) blocks.push_back({static_cast<std::uint16_t>(0x4000 + i), 1000 + i});
  queue(command::transmitStatus, statusReply(0, blocks));
  auto heapTables = std::make_unique<StatusTables>();
  EXPECT_EQ(transmitStatus(link, kPort, word, flag, *heapTables, benchError), 1);
  for (std::size_t i = 0; i < kStatusEntries - 1; ++i) {
    ASSERT_EQ(heapTables->flags[i], blocks[i].flags) << i;
    ASSERT_EQ(heapTables->stamps[i], blocks[i].stamp) << i;
  }
  EXPECT_EQ(heapTables->flags[kStatusEntries - 1], 0);
  EXPECT_EQ(heapTables->stamps[kStatusEntries - 1], 0u);
}

TEST_F(BenchRequestTest, BusyBenchIsPolled31TimesAndHeardForFourSecondsAfterEach) {
  always(command::transmitStatus, statusReply(spec_stat::busy));
  EXPECT_EQ(waitForBench(link, kPort, 0, tables, benchError), 0);
  EXPECT_EQ(count(command::transmitStatus), 31);
  EXPECT_EQ(static_cast<int>(requests.size()), 31);
  EXPECT_EQ(clock.ticks, 0u);  // no SRQ wait

  requests.clear();
  EXPECT_EQ(waitForBench(link, kPort, 1, tables, benchError), 0);
  ASSERT_EQ(count(command::transmitStatus), 31);
  for (std::size_t k = 0; k < requests.size(); ++k) EXPECT_EQ(requests[k].tick, 4000u * k) << k;
  EXPECT_EQ(clock.ticks, 31u * 4000u);
  EXPECT_EQ(benchError, 0);
}

TEST_F(BenchRequestTest, WaitForBenchEndsAtTheFirstIdleReplyOrFailedRequest) {
  EXPECT_EQ(waitForBench(link, kPort, 1, tables, benchError), 0);  // the bench never answers
  EXPECT_EQ(count(command::transmitStatus), 1);

  requests.clear();
  queue(command::transmitStatus, statusReply(spec_stat::busy));
  queue(command::transmitStatus, statusReply(spec_stat::busy | spec_stat::newSrq));
  always(command::transmitStatus, statusReply(spec_stat::newEvent));
  const std::uint32_t start = clock.ticks;
  EXPECT_EQ(waitForBench(link, kPort, 1, tables, benchError), 1);
  EXPECT_EQ(count(command::transmitStatus), 3);
  EXPECT_EQ(clock.ticks - start, 8000u);  // two SRQ waits, none after the idle reply

  requests.clear();
  EXPECT_EQ(waitForBench(link, kPort, 1, tables, benchError), 1);
  EXPECT_EQ(count(command::transmitStatus), 1);
  EXPECT_EQ(clock.ticks - start, 8000u);
}

TEST_F(BenchRequestTest, StartScanReturnsTheStampOnceTheBenchAnnouncesTheScan) {
  queue(command::transmitStatus, statusReply(0, {{0, 0xFFFFFFFF}}));
  // Once newSrq is seen, a real stamp is returned without looking at the other status bits.
  queue(command::transmitStatus,
        statusReply(spec_stat::newSrq | spec_stat::commErr | spec_stat::hardwareError, {{0, 0x00C0FFEE}}));
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0x00C0FFEEu);
  EXPECT_THAT(commands(), ElementsAre(command::startScan, command::transmitStatus, command::transmitStatus));
  EXPECT_EQ(requests[0].message, (Bytes{0x80, 0x81, 0xD1, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(benchError, 0);
  EXPECT_TRUE(logHas("sending START SCAN"));

  requests.clear();
  queue(command::transmitStatus, statusReply(spec_stat::newSrq, {{0, 7}}));
  EXPECT_EQ(startScan(link, kPort, 4, srqCount, 0x01020304, tables, benchError), 7u);
  EXPECT_EQ(requests[0].message, (Bytes{0x80, 0x81, 0xD1, 0x81, 0x01, 0x02, 0x03, 0x04}));

  requests.clear();
  EXPECT_EQ(stopScan(link, kPort, srqCount, benchError), 1);
  EXPECT_EQ(requests.at(0).message, (Bytes{0x80, 0x84}));
  EXPECT_TRUE(logHas("sending STOP SCAN"));
}

TEST_F(BenchRequestTest, StartScanFailuresAtTheStartAndOnceTheBlockIsAllocated) {
  using namespace spec_stat;
  queue(command::transmitStatus, statusReply(newSrq | badCommand, {{0, 5}}));
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0u);
  EXPECT_EQ(benchError, -19);
  EXPECT_TRUE(logHas("start scan error -19 FFFFFFED"));
  EXPECT_EQ(count(command::transmitStatus), 1);
  benchError = 0;
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0u);  // no status reply
  EXPECT_EQ(benchError, -18);
  EXPECT_EQ(count(command::transmitStatus), 2);
  peer.fail("putBlock", 0);
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0u);
  EXPECT_EQ(requests.size(), 4u);  // two starts and their status requests; the third start never left

  // Once newSrq has come, a pending stamp is polled until the block is allocated, then the status
  // bits are tested in order.
  const std::pair<std::uint16_t, std::int32_t> cases[] = {
      {commErr | badCommand | hardwareError | reInit, kErrorCommErr},
      {badCommand | hardwareError | reInit, kErrorBadCommand},
      {hardwareError | reInit, kErrorHardware},
      {reInit, kErrorReInit},
  };
  for (const auto& [bits, code] : cases) {
    requests.clear();
    benchError = 0;
    queue(command::transmitStatus, statusReply(newSrq, {{0, kStampPending}}));
    queue(command::transmitStatus, statusReply(0, {{0, kStampPending}}));
    queue(command::transmitStatus, statusReply(bits, {{0, 9}}));
    EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0u) << code;
    EXPECT_EQ(benchError, code);
    EXPECT_TRUE(logHas("start scan error " + std::to_string(code)));
    EXPECT_EQ(count(command::transmitStatus), 3);
  }
  queue(command::transmitStatus, statusReply(newSrq, {{0, kStampPending}}));
  queue(command::transmitStatus, statusReply(newEvent | busy, {{0, 9}}));
  benchError = 0;
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 9u);
  EXPECT_EQ(benchError, 0);
}

TEST_F(BenchRequestTest, WaitForNewSrqIsBoundedByThirtySecondsAndByAFailedStatus) {
  // The second status request gets no reply: the wait ends there.
  queue(command::transmitStatus, statusReply(0, {{0, kStampPending}}));
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0u);
  EXPECT_EQ(benchError, kErrorNoNewSrq);
  EXPECT_EQ(count(command::transmitStatus), 2);

  // A bench that answers every status request but never announces the scan.
  requests.clear();
  benchError = 0;
  answerDelayMs = 250;
  always(command::transmitStatus, statusReply(0, {{0, kStampPending}}));
  const std::uint32_t start = clock.ticks;
  EXPECT_EQ(startScan(link, kPort, 5, srqCount, 0, tables, benchError), 0u);
  EXPECT_EQ(benchError, kErrorNoNewSrq);
  EXPECT_GE(clock.ticks - start, kNewSrqPatienceMs);
  EXPECT_LT(clock.ticks - start, kNewSrqPatienceMs + 2500);
  EXPECT_GT(count(command::transmitStatus), 10);
  EXPECT_EQ(count(command::startScan), 1);
}

TEST_F(BenchRequestTest, PollScanDoneReadsTheFlagsOfTheStampedBlock) {
  std::int32_t error = 0;
  EXPECT_EQ(pollScanDone(link, kPort, 10, tables, error), 0);  // no reply

  using namespace data_def;
  always(command::transmitStatus,
         statusReply(0, {{done, 10}, {failedScan | done, 11}, {failedProcess, 12}, {sample, 13}}));
  const std::pair<std::uint32_t, std::int32_t> cases[] = {{11, -28}, {12, -29}, {13, 0}, {99, 0}};
  for (const auto& [stamp, code] : cases) {
    error = 0;
    EXPECT_EQ(pollScanDone(link, kPort, stamp, tables, error), code == 0 ? 0 : -1) << stamp;
    EXPECT_EQ(error, code) << stamp;
  }
  EXPECT_TRUE(logHas("setting error to -28 FFFFFFE4"));
  EXPECT_TRUE(logHas("setting error to -29 FFFFFFE3"));
  error = 0;
  EXPECT_EQ(pollScanDone(link, kPort, 10, tables, error), 1);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(count(command::transmitStatus), 6);
}

}  // namespace
}  // namespace dorvane::testing
