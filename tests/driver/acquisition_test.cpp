// Co-added acquisitions through the driver against the virtual bench: the start handshake, the
// file loop, the host's event, the data and its time stamps, stopping, and the line's trouble.
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>

#include "bench/requests.h"
#include "driver/scan_thread.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "tests/driver/driver_fixture.h"
#include "tests/support/forwarding_serial.h"

namespace dorvane::testing {
namespace {

constexpr std::uint32_t kPoints = 4096;

class Acquisition : public DriverOnBench {
 protected:
  // A bench of 4096-point blocks, opened and initialised for 4096 points, with the host's event.
  void openBench(sim::InstrumentOptions options = {}, const sim::BenchLinkOptions& linkOptions = {},
                 bool initialise = true) {
    if (options.dataPoints == 16448) options.dataPoints = kPoints;
    startBench(options, linkOptions);
    loadSettings("points=4096\n");
    ASSERT_EQ(driver->open(0), 0);
    if (initialise) {
      ASSERT_EQ(driver->initialize(), 0);
    }
    driver->setCoaddCompleteEventHandle(event.handle());
  }

  // Starts an acquisition of `files` over a line paced at 9600 baud, where a 16448-point block
  // takes most of a minute, and returns once the thread is retrieving the first.
  void startSlowRetrieval(std::int32_t files) {
    sim::BenchLinkOptions slowLine;
    slowLine.baud = 9600;
    startBench({}, slowLine);
    loadSettings();
    ASSERT_EQ(driver->open(0), 0);
    ASSERT_EQ(driver->initialize(), 0);
    driver->setCoaddCompleteEventHandle(event.handle());
    driver->setScans(1);
    driver->setFiles(files);
    ASSERT_EQ(driver->startCoadd(), 0);
    ASSERT_TRUE(waitForLogLine("dorvane.dll scanThread:PrepareData"));
  }

  // The newest co-add through getData: its values, or nothing when getData refused.
  std::optional<std::vector<double>> fetch(double& stamp) {
    std::vector<double> values(static_cast<std::size_t>(driver->getPoints()));
    if (driver->getData(values.data(), static_cast<std::int32_t>(values.size()), &stamp) != 0) return std::nullopt;
    return values;
  }

  static double largestDifference(const std::vector<double>& got, const std::vector<double>& want) {
    if (got.size() != want.size()) return INFINITY;
    double largest = 0;
    for (std::size_t i = 0; i < got.size(); ++i) largest = std::max(largest, std::abs(got[i] - want[i]));
    return largest;
  }

  HostEvent event;
};

double nowMsSinceEpoch() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TEST_F(Acquisition, ThreeFilesSignalOncePerFileAndDeliverTheBenchsNewestCoadd) {
  openBench();
  driver->setScans(4);
  driver->setFiles(3);
  const double before = nowMsSinceEpoch();
  ASSERT_EQ(driver->startCoadd(), 0);
  EXPECT_EQ(driver->getStatus(), 64);
  std::uint64_t signals = 0;
  for (int i = 0; i < 3 && signals < 3; ++i) signals += event.wait(HostEvent::kFileBoundMs);
  ASSERT_TRUE(waitUntilIdle());
  const double after = nowMsSinceEpoch();
  EXPECT_EQ(signals, 3u);
  EXPECT_EQ(event.wait(0), 0u) << "one signal per file, no more";
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_EQ(driver->getFileProgress(), 3);
  EXPECT_EQ(driver->getScanProgress(), 4);
  EXPECT_FALSE(portIsOpen());

  // The bench holds three blocks of four scans; the ready buffer is the newest.
  const auto blocks = instrument->blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].scans, 4);
  EXPECT_EQ(driver->getPoints(), static_cast<std::int32_t>(blocks[0].points));
  double stamp = 0;
  const auto values = fetch(stamp);
  ASSERT_TRUE(values);
  EXPECT_LT(largestDifference(*values, benchVolts(blocks[0].stamp)), 2e-6);
  EXPECT_GE(stamp, before - 1);
  EXPECT_LE(stamp, after + 1);
  EXPECT_EQ(driver->getTimestamp(), stamp);

  // getData does not consume: the same co-add again, counted again.
  double again = 0;
  EXPECT_EQ(fetch(again), values);
  EXPECT_EQ(again, stamp);
  EXPECT_EQ(driver->state().filesRetrieved.load(), 2);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.startCoadd", "dorvane.dll scanThread:entering ThreadProc",
                             "dorvane.dll scanThread:files= 3; scans= 4", "startCoadd OK",
                             "dorvane.dll scanThread:_scansComplete= 4", "dorvane.dll scanThread:PrepareData",
                             "dorvane.dll scanThread: setting coaddCompleteEvent", "dorvane.dll scanThread:DONE",
                             "dorvane.dll scanThread: setting threadDoneEvent ",
                             "dorvane.dll scanThread: exiting ThreadProc",
                             "dorvane.dll CScanThread::getData: readyScanBufferIndex= 0; filesComplete= 3; "
                             "filesRetrieved= 1",
                             "dorvane.dll getData returns 0"}));
  EXPECT_EQ(countLogLines("dorvane.dll scanThread: setting coaddCompleteEvent"), 3u);
}

TEST_F(Acquisition, GetDataGuardsTheHostsBuffer) {
  openBench();
  std::vector<double> untouched(8, 7.0);
  double stamp = -1;
  // Before any co-add: nothing written, nothing counted.
  EXPECT_EQ(driver->getData(untouched.data(), 8, &stamp), 1);
  EXPECT_EQ(untouched, std::vector<double>(8, 7.0));
  EXPECT_EQ(stamp, -1);
  EXPECT_EQ(driver->getTimestamp(), 0.0);
  EXPECT_EQ(driver->getPoints(), 0);

  driver->setScans(1);
  ASSERT_EQ(driver->startCoadd(), 0);
  ASSERT_EQ(event.wait(HostEvent::kFileBoundMs), 1u);
  ASSERT_TRUE(waitUntilIdle());
  const std::int32_t points = driver->getPoints();
  ASSERT_GT(points, 1);

  // One element short: refused, and the host's elements zeroed; the guard past pts untouched.
  std::vector<double> shortBuffer(static_cast<std::size_t>(points), 7.0);
  EXPECT_EQ(driver->getData(shortBuffer.data(), points - 1, &stamp), 1);
  EXPECT_EQ(std::count(shortBuffer.begin(), shortBuffer.end() - 1, 0.0), points - 1);
  EXPECT_EQ(shortBuffer.back(), 7.0);
  EXPECT_EQ(stamp, -1);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll getData()::FAILED: state= 5; points= " + std::to_string(points) +
                             "; pts= " + std::to_string(points - 1)}));

  // Null pointers are never written through.
  EXPECT_EQ(driver->getData(nullptr, points, &stamp), 1);
  EXPECT_EQ(driver->getData(shortBuffer.data(), points, nullptr), 1);
  EXPECT_EQ(stamp, -1);

  // A longer buffer gets the co-add and zeros after it.
  std::vector<double> longBuffer(static_cast<std::size_t>(points) + 3, 7.0);
  EXPECT_EQ(driver->getData(longBuffer.data(), points + 3, &stamp), 0);
  EXPECT_EQ(longBuffer[static_cast<std::size_t>(points)], 0.0);
  EXPECT_NE(stamp, -1);
}

TEST_F(Acquisition, FilesZeroRunsUntilStopped) {
  openBench();
  driver->setScans(1);
  driver->setFiles(0);
  ASSERT_EQ(driver->startCoadd(), 0);
  std::uint64_t signals = 0;
  while (signals < 3) {
    const std::uint64_t got = event.wait(HostEvent::kFileBoundMs);
    ASSERT_GT(got, 0u);
    signals += got;
  }
  EXPECT_EQ(driver->getStatus(), 64);
  EXPECT_EQ(driver->stop(), 0);
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_GE(driver->getFileProgress(), 3);
  EXPECT_EQ(driver->getFiles(), 0);
  EXPECT_FALSE(portIsOpen());
  EXPECT_TRUE(logHasInOrder({"dorvane.dll scanThread:files= 0; scans= 1", "dorvane.dll stop",
                             "dorvane.dll scanThread:DONE"}));
}

TEST_F(Acquisition, InitNeededPutsTheSettingsOnlyWhenTheBenchLacksThem) {
  openBench({}, {}, /*initialise=*/false);
  driver->setScans(2);
  // Never initialised: the full initialisation runs before the first acquisition.
  ASSERT_EQ(driver->startCoadd(), 0);
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.startCoadd", "dorvane.dll.initNeeded TRUE", "dorvane.dll.callInit",
                             "startCoadd OK"}));
  EXPECT_EQ(instrument->setupField(bench::field::sampScans), 2u);

  // The bench kept them, scans unchanged: nothing is put.
  const std::size_t putsBefore = countLogLines("dorvane.dll txSetup");
  ASSERT_EQ(driver->startCoadd(), 0);
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(countLogLines("dorvane.dll.initNeeded FALSE"), 1u);
  EXPECT_EQ(countLogLines("dorvane.dll txSetup"), putsBefore);

  // Only scans changed: the setup is put once with the new count and no ZPD search.
  driver->setScans(3);
  ASSERT_EQ(driver->startCoadd(), 0);
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(countLogLines("dorvane.dll.initNeeded FALSE"), 2u);
  EXPECT_EQ(countLogLines("dorvane.dll txSetup"), putsBefore + 1);
  EXPECT_EQ(instrument->setupField(bench::field::sampScans), 3u);
  EXPECT_EQ(driver->state().scanSettings.get(bench::field::primaryZpd), 0u);
  EXPECT_EQ(instrument->blocks().front().scans, 3);
}

TEST_F(Acquisition, ExportsThatNeedThePortAreRefusedWhileAnAcquisitionHoldsIt) {
  openBench();
  driver->setScans(1);
  driver->setFiles(0);
  ASSERT_EQ(driver->startCoadd(), 0);
  auto* const object = driver->state().scanThread.get();
  EXPECT_EQ(driver->startCoadd(), 1);
  EXPECT_EQ(driver->open(0), DORVANE_ERROR_PORT_BUSY);
  EXPECT_EQ(driver->initialize(), DORVANE_ERROR_PORT_BUSY);
  EXPECT_EQ(driver->state().scanThread.get(), object);
  // A second host's driver on the same device (its port 51) is turned away by the exclusive
  // opening before it can send a byte.
  setenv("DORVANE_COM52", pty.slavePath().c_str(), 1);
  const std::string secondHostSettings = scratch.write("second.ini", "[Settings]\nport=52\nbaud=38400\n");
  driver::Driver secondHost(driver::DriverServices{platform::systemClock(), debug, platform::systemSerialLibrary(),
                                                   [this] { return (scratch.path() / "second.so").string(); }});
  ASSERT_EQ(secondHost.execute(("@" + secondHostSettings).c_str()), 0);
  EXPECT_EQ(secondHost.open(0), DORVANE_ERROR_PORT_IN_USE);
  // The acquisition goes on untouched.
  EXPECT_GT(event.wait(HostEvent::kFileBoundMs), 0u);
  EXPECT_EQ(driver->getStatus(), 64);
  EXPECT_EQ(countLogLines("dorvane.dll spectrometer_open: refused, an acquisition holds the serial port"), 1u);
  EXPECT_EQ(driver->stop(), 0);
  EXPECT_EQ(driver->open(0), 0);
}

TEST_F(Acquisition, CloseStopsTheAcquisitionReleasesTheObjectAndThePort) {
  openBench();
  driver->setScans(1);
  driver->setFiles(0);
  ASSERT_EQ(driver->startCoadd(), 0);
  ASSERT_GT(event.wait(HostEvent::kFileBoundMs), 0u);
  EXPECT_EQ(driver->close(), 1);
  EXPECT_EQ(driver->state().scanThread, nullptr);
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_FALSE(portIsOpen());
  EXPECT_EQ(driver->stop(), 1);  // nothing left to stop
  EXPECT_EQ(driver->startCoadd(), 1);
  EXPECT_FALSE(portIsOpen()) << "the early failure closes the port it opened";
}

TEST_F(Acquisition, StartWithoutOpenFailsAndClosesThePort) {
  startBench({.dataPoints = kPoints});
  loadSettings("points=4096\n");
  EXPECT_EQ(driver->stop(), 1);
  EXPECT_EQ(driver->startCoadd(), 1);
  EXPECT_FALSE(portIsOpen());
  EXPECT_EQ(driver->getStatus(), 0);
}

TEST_F(Acquisition, AFailedFirstScanReportsFailureAndSignalsTheEvent) {
  // The error shows once the block is allocated, which the driver waits for. A block already
  // stamped at the first status reply is taken without a look at the error bits, so the allocation
  // lasts long enough for the driver to ask before it, even under ThreadSanitizer on a loaded
  // machine (its first status request follows the start at once), and well inside the driver's
  // 30 s patience for a new block.
  openBench({.allocation = std::chrono::seconds(5)});
  instrument->troubleNextScan(sim::ScanTrouble::HardwareError);
  ASSERT_EQ(driver->startCoadd(), 1);
  EXPECT_EQ(event.wait(0), 1u);
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_FALSE(portIsOpen());
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.startCoadd", "could not start scan. error -21",
                             "dorvane.dll.startCoadd FAILED TO START"}));
}

// At 9600 baud the retrieval lasts far longer than the 5000 ms that the stop would wait for it.
TEST_F(Acquisition, AStopDuringARetrievalAbortsTheReplySoTheNextOpenWorksAtOnce) {
  ASSERT_NO_FATAL_FAILURE(startSlowRetrieval(2));
  ASSERT_TRUE(waitForLogLine("rxSpectrum: reading *"));
  EXPECT_EQ(driver->stop(), 0);
  const auto debugLines = debug.lines();
  EXPECT_EQ(std::count(debugLines.begin(), debugLines.end(), "CThreadBase::Stop no thread done event, terminating thread\n"), 0);
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_FALSE(portIsOpen());
  EXPECT_EQ(driver->getFileProgress(), 0);
  EXPECT_EQ(event.wait(0), 0u) << "the interrupted file is not signalled";
  EXPECT_EQ(driver->getPoints(), 0) << "nothing of the cut retrieval was stored";
  EXPECT_TRUE(logHasInOrder({"dorvane.dll stop", "rxPacket: stop requested, sending ABORT", "ERROR *",
                             "dorvane.dll scanThread:DONE"}));
  EXPECT_GE(instrument->link().stats().abortsReceived, 1u);
  EXPECT_EQ(instrument->link().stats().repliesAbandoned, 1u);
  EXPECT_EQ(driver->stop(), 0) << "a stop after the end still reports a stopped thread";
  EXPECT_EQ(driver->open(0), 0);
}

// The paced retrieval lasts long enough for the bench to fall silent inside it.
TEST_F(Acquisition, ABenchThatFallsSilentMidRetrievalEndsTheAcquisitionWithinItsBounds) {
  ASSERT_NO_FATAL_FAILURE(startSlowRetrieval(3));
  // Silent only once the data packets flow: a silence before the request is a failed request.
  ASSERT_TRUE(waitForLogLine("rxSpectrum: reading *"));
  instrument->link().stop();
  // The retrieval fails and the file is still counted and signalled; the next scan cannot start,
  // so the thread ends by itself.
  EXPECT_EQ(event.wait(HostEvent::kFileBoundMs), 1u);
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(driver->getFileProgress(), 1);
  EXPECT_FALSE(portIsOpen());
  EXPECT_EQ(driver->getPoints(), 0) << "nothing of the failed retrieval was stored";
  EXPECT_TRUE(logHasInOrder({"dorvane.dll scanThread:PrepareData", "ERROR *",
                             "dorvane.dll scanThread: setting coaddCompleteEvent", "could not start scan. error *",
                             "dorvane.dll scanThread:DONE"}));
}

// A host that starts the next acquisition as soon as it has fetched the last file of the one before
// is never refused, with the log on (each line committed to the disk) and off.
TEST_F(Acquisition, BackToBackStartsAreNeverRefused) {
  openBench();
  driver->setScans(1);
  driver->setFiles(1);
  constexpr int kStarts = 50;
  for (int start = 1; start <= kStarts; ++start) {
    if (start == kStarts / 2 + 1) loadSettings("points=4096\nlog=0\n");
    ASSERT_EQ(driver->startCoadd(), 0) << "start " << start;
    ASSERT_EQ(event.wait(HostEvent::kFileBoundMs), 1u) << "start " << start;
    double stamp = 0;
    ASSERT_TRUE(fetch(stamp)) << "start " << start;
  }
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(countLogLines("dorvane.dll spectrometer_startCoadd: refused, an acquisition holds the serial port"), 0u);
}

// The last file's thread held up as it closes the port: a start made then waits for the port, and
// the acquisition it starts runs as any other.
TEST_F(Acquisition, AStartWhileTheLastFilesThreadClosesThePortWaitsForIt) {
  class CloseHeldSerial final : public ForwardingSerial {
   public:
    int close(int port) override {
      if (hold.exchange(false)) release.wait(platform::kWaitForever);
      return system_.close(port);
    }
    std::atomic<bool> hold{false};
    platform::Event release;
  } serial;
  driver = std::make_unique<driver::Driver>(driver::DriverServices{
      platform::systemClock(), debug, serial, [this] { return (scratch.path() / "libdorvane.so").string(); }});
  openBench();
  driver->setScans(1);
  driver->setFiles(1);
  serial.hold = true;  // the next close is the thread's own, at its end
  ASSERT_EQ(driver->startCoadd(), 0);
  ASSERT_EQ(event.wait(HostEvent::kFileBoundMs), 1u);
  double stamp = 0;
  ASSERT_TRUE(fetch(stamp));
  auto second = std::async(std::launch::async, [this] { return driver->startCoadd(); });
  const bool waited =
      waitForLogLine("dorvane.dll spectrometer_startCoadd: waiting for the ending acquisition to close the serial port");
  serial.release.set();
  ASSERT_TRUE(waited);
  EXPECT_EQ(second.get(), 0);
  EXPECT_EQ(event.wait(HostEvent::kFileBoundMs), 1u);
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(driver->getFileProgress(), 1);
  EXPECT_EQ(countLogLines("dorvane.dll spectrometer_startCoadd: refused, an acquisition holds the serial port"), 0u);
  driver.reset();  // before the serial layer it works on
}

// About one packet in a hundred corrupted, shortened, refused or left unanswered: every file the
// host is handed is exactly one of the bench's co-adds, or the previous one again when its
// retrieval failed; never a mixture.
TEST_F(Acquisition, TwentyFilesOverANoisyLineAreIntactOrCountedAsFailed) {
  sim::FaultOdds odds;
  odds.corruptReply = 0.01;
  odds.loseReplyByte = 0.01;
  odds.nak = 0.01;
  odds.silence = 0.002;
  openBench({.pointSize = sim::PointSize::Three});
  instrument->link().faults().randomize(20261207, odds);
  driver->setScans(2);
  driver->setFiles(20);
  ASSERT_EQ(driver->startCoadd(), 0);
  int intact = 0;
  int repeated = 0;
  double lastStamp = 0;
  while (driver->getFileProgress() < 20 || driver->getStatus() == 64) {
    if (event.wait(HostEvent::kFileBoundMs) == 0) break;
    double stamp = 0;
    const auto values = fetch(stamp);
    if (!values || stamp == lastStamp) {
      ++repeated;
      continue;
    }
    lastStamp = stamp;
    bool matched = false;
    for (const auto& block : instrument->blocks()) {
      if (largestDifference(*values, benchVolts(block.stamp)) < 2e-6) matched = true;
    }
    EXPECT_TRUE(matched) << "a co-add that is none of the bench's blocks";
    ++intact;
  }
  ASSERT_TRUE(waitUntilIdle());
  EXPECT_EQ(driver->getFileProgress(), 20);
  EXPECT_GT(intact, 10);
  EXPECT_FALSE(instrument->link().faults().applied().empty());
  std::printf("intact %d, failed or repeated %d, faults applied %zu\n", intact, repeated,
              instrument->link().faults().applied().size());
}

}  // namespace
}  // namespace dorvane::testing
