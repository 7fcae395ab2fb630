// The acquisition as one component, on a scripted bench and the virtual clock: the file loop, the
// kill in every phase of a file, the failed block and the abort that ends a thread deaf to the kill.
#include <algorithm>
#include <optional>

#include "driver/scan_thread.h"
#include "tests/bench/bench_fixture.h"
#include "tests/driver/driver_fixture.h"

namespace dorvane::testing {
namespace {

using namespace bench;
using driver::CScanThread;

constexpr std::uint32_t kFirst = 0x0A0B0C01;
constexpr std::uint32_t kSecond = 0x0A0B0C02;
// The most protocol time from the kill to the bench hearing of it.
constexpr std::uint32_t kKillSeenMs = 100;

class ScanThreadTest : public BenchTest {
 protected:
  ScanThreadTest() {
    answerDelayMs = 5;  // every answer takes some line time
    plan.port = kPort;
    plan.scans = 2;
    plan.files = 2;
    plan.bench = 7;
    plan.benchSetup.set(field::adcVolts, 10);
    progress.coaddCompleteEvent = event.handle();
    always(command::transmitStatus, statusReply(0));  // idle, no blocks: the wait for the bench ends
  }
  ~ScanThreadTest() override { acquisition.stop(); }

  // A file that starts at once, is done at the first poll and comes back as 300 points.
  void scriptFile(std::uint32_t stamp) {
    queue(command::transmitStatus, statusReply(spec_stat::newSrq, {{0, stamp}}));
    queue(command::transmitStatus, statusReply(0, {{data_def::done, stamp}}));
    queue(command::dataRequest, block(header(0, 299, 2), Bytes(600, 0x40)));
  }

  // The kill, from the bench's side, at the first send of the driver for which `when` is true.
  void killWhen(std::function<bool(const Bytes& sent)> when) {
    beforeEachSend = [this, when](const Bytes& sent) {
      if (killTick || !when(sent)) return;
      killTick = clock.ticks;
      acquisition.thread().killEvent.set();
    };
  }
  // Runs the acquisition until its thread has ended.
  void run(CScanThread::Start expected = CScanThread::Start::started) {
    ASSERT_EQ(acquisition.start(plan), expected);
    ASSERT_TRUE(acquisition.thread().threadDoneEvent.wait(60000));
    acquisition.stop();  // joins the thread
  }
  // Protocol time from the kill to the driver's first ABORT after it.
  std::uint32_t msFromKillToAbort() const {
    const auto sent = std::find_if(peer.sent.begin(), peer.sent.end(), [&](const ScriptedPeer::Sent& s) {
      return s.tick >= *killTick && s.bytes == Bytes{link::kAbort};
    });
    return sent == peer.sent.end() ? UINT32_MAX : sent->tick - *killTick;
  }
  // Protocol time from the kill to the start of STOP SCAN.
  std::uint32_t msFromKillToStopScan() const {
    const auto stop = std::find_if(requests.begin(), requests.end(),
                                   [](const BenchRequest& r) { return r.command() == command::stopScan; });
    return stop == requests.end() ? UINT32_MAX : stop->tick - *killTick;
  }
  bool logHasInOrder(const std::vector<std::string>& wanted) const { return linesInOrder(logLines(), wanted); }
  void expectStoppedAsWhilePolling() {
    EXPECT_LE(msFromKillToStopScan(), kKillSeenMs);
    EXPECT_EQ(count(command::stopScan), 1);
    EXPECT_TRUE(logHasInOrder({"dorvane.dll scanThread: kill event received", "dorvane.dll scanThread: calling stopScan",
                               "sending STOP SCAN", "dorvane.dll scanThread: waiting for bench",
                               "sending TRANSMIT STATUS", "dorvane.dll scanThread: done waiting for bench",
                               "dorvane.dll scanThread:DONE", "dorvane.dll scanThread: exiting ThreadProc"}));
    EXPECT_EQ(logCount("could not start scan. error 0"), 0);
  }

  HostEvent event;
  CapturedDebugOutput debug;
  driver::AcquisitionProgress progress;
  driver::AcquisitionPlan plan;
  CScanThread acquisition{{peer, clock, log, debug}, progress};
  std::optional<std::uint32_t> killTick;
};

TEST_F(ScanThreadTest, EachFileIsStartedPolledRetrievedStoredAndSignalledThenThePortCloses) {
  scriptFile(kFirst);
  scriptFile(kSecond);
  run();
  EXPECT_EQ(progress._filesComplete.load(), 2);
  EXPECT_EQ(progress._scansComplete.load(), 2);
  EXPECT_EQ(progress.status.load(), DORVANE_STATUS_IDLE);
  EXPECT_EQ(event.wait(0), 2u);
  EXPECT_EQ(acquisition.ring().readyPoints(), 300);
  EXPECT_EQ(requests[3].message, (Bytes{0x80, 0x82, 0x0A, 0x0B, 0x0C, 0x01}));
  EXPECT_EQ(std::count(peer.calls.begin(), peer.calls.end(), "close(3)"), 1);
  EXPECT_EQ(count(command::stopScan), 0);
  const Bytes answers = controls();
  EXPECT_EQ(std::count(answers.begin(), answers.end(), link::kAbort), 0);
}

TEST_F(ScanThreadTest, WithoutScansEachFileIsCountedAtOnceWithoutPollsOrData) {
  plan.scans = 0;
  plan.files = 3;
  for (const std::uint32_t stamp : {kFirst, kSecond, kSecond + 1}) {
    queue(command::transmitStatus, statusReply(spec_stat::newSrq, {{0, stamp}}));
  }
  run();
  EXPECT_EQ(progress._filesComplete.load(), 3);
  EXPECT_EQ(event.wait(0), 3u);
  EXPECT_EQ(count(command::transmitStatus), 3);
  EXPECT_EQ(count(command::dataRequest), 0);
  EXPECT_EQ(logCount("dorvane.dll scanThread:PrepareData: no scans!"), 3);
  EXPECT_EQ(acquisition.ring().readyScanBufferIndex.load(), -1);
}

TEST_F(ScanThreadTest, AKillDuringARetrievalAbortsTheReplyAtTheNextPacketAndDropsTheFile) {
  scriptFile(kFirst);
  scriptFile(kSecond);
  int acks = 0;
  killWhen([&](const Bytes& sent) { return count(command::dataRequest) == 2 && sent == Bytes{link::kAck} && ++acks == 3; });
  run();
  EXPECT_LE(msFromKillToAbort(), kKillSeenMs);
  EXPECT_EQ(progress._filesComplete.load(), 1);
  EXPECT_EQ(event.wait(0), 1u) << "the interrupted file is not signalled";
  EXPECT_EQ(count(command::stopScan), 0);
  EXPECT_TRUE(logHasInOrder({"rxPacket: stop requested, sending ABORT", "ERROR 0 retrieving data",
                             "dorvane.dll scanThread:DONE"}));
  const Bytes answers = controls();
  EXPECT_EQ(std::count(answers.begin(), answers.end(), link::kAbort), 1) << "one ABORT a failed retrieval";
  EXPECT_EQ(progress.status.load(), DORVANE_STATUS_IDLE);
}

TEST_F(ScanThreadTest, AKillWhileStartScanWaitsForTheAnnouncementStopsTheScanAsWhilePolling) {
  scriptFile(kFirst);  // the second scan is never announced
  killWhen([&](const Bytes&) { return count(command::startScan) == 2 && count(command::transmitStatus) >= 6; });
  run();
  expectStoppedAsWhilePolling();
  EXPECT_EQ(progress._filesComplete.load(), 1);
}

TEST_F(ScanThreadTest, AKillWhileStartScanWaitsForTheStampStopsTheScanAsWhilePolling) {
  scriptFile(kFirst);
  always(command::transmitStatus, statusReply(spec_stat::newSrq, {{0, kStampPending}}));
  killWhen([&](const Bytes&) { return count(command::startScan) == 2 && count(command::transmitStatus) >= 6; });
  run();
  expectStoppedAsWhilePolling();
  EXPECT_EQ(progress._filesComplete.load(), 1);
}

TEST_F(ScanThreadTest, AKillWhilePollingSendsStopScanAndWaitsForTheBench) {
  queue(command::transmitStatus, statusReply(spec_stat::newSrq, {{0, kFirst}}));
  always(command::transmitStatus, statusReply(0, {{data_def::sample, kFirst}}));  // never done
  killWhen([&](const Bytes&) { return count(command::transmitStatus) >= 4; });
  run();
  expectStoppedAsWhilePolling();
  EXPECT_EQ(progress._filesComplete.load(), 0);
  EXPECT_EQ(event.wait(0), 0u);
  EXPECT_EQ(logCount("dorvane.dll scanThread:PrepareData"), 0);
}

TEST_F(ScanThreadTest, AKillDuringThePollThatReportsTheBlockDoneSendsNoDataRequest) {
  scriptFile(kFirst);
  killWhen([&](const Bytes&) { return count(command::transmitStatus) == 2; });  // the poll's reply is coming
  run();
  expectStoppedAsWhilePolling();
  EXPECT_EQ(count(command::dataRequest), 0);
  const Bytes answers = controls();
  EXPECT_EQ(std::count(answers.begin(), answers.end(), link::kAbort), 0);
  EXPECT_EQ(progress._filesComplete.load(), 0);
  EXPECT_EQ(event.wait(0), 0u);
}

TEST_F(ScanThreadTest, ABlockTheBenchReportsFailedEndsTheAcquisitionAndWakesTheHost) {
  queue(command::transmitStatus, statusReply(spec_stat::newSrq, {{0, kFirst}}));
  queue(command::transmitStatus, statusReply(0, {{data_def::sample, kFirst}}));
  queue(command::transmitStatus, statusReply(0, {{data_def::failedScan, kFirst}}));
  run();
  EXPECT_EQ(event.wait(0), 1u);
  EXPECT_EQ(progress._filesComplete.load(), 0);
  EXPECT_EQ(progress.status.load(), DORVANE_STATUS_IDLE);
  EXPECT_EQ(count(command::dataRequest), 0);
  EXPECT_EQ(count(command::stopScan), 0);
  EXPECT_TRUE(logHasInOrder({"setting error to -28 FFFFFFE4", "scan failed on the bench. error -28",
                             "dorvane.dll scanThread:DONE"}));
}

// Costs the 5 s that the stop waits before it raises the abort.
TEST_F(ScanThreadTest, TheAbortEndsAThreadThatCannotHearTheKill) {
  scriptFile(kFirst);
  platform::Event stuck;
  beforeEachSend = [&](const Bytes&) {
    if (count(command::dataRequest) == 0) return;
    stuck.set();
    acquisition.thread().abortEvent.wait(60000);  // a send that hangs until the abort
  };
  ASSERT_EQ(acquisition.start(plan), CScanThread::Start::started);
  ASSERT_TRUE(stuck.wait(60000));
  acquisition.stop();
  EXPECT_EQ(debug.lines.back(), "CThreadBase::Stop no thread done event, terminating thread\n");
  EXPECT_FALSE(acquisition.running());
  EXPECT_EQ(progress.status.load(), DORVANE_STATUS_IDLE);
  EXPECT_EQ(progress._filesComplete.load(), 0);
  EXPECT_EQ(std::count(peer.calls.begin(), peer.calls.end(), "close(3)"), 1);
}

}  // namespace
}  // namespace dorvane::testing
