// The bench requests against the virtual instrument over a real pseudo-terminal: read the setup,
// put the scan settings, scan, poll the block done, retrieve it, and compare the volts with the
// counts the bench generated, also with the line's faults on.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "bench/requests.h"
#include "bench/scan_settings.h"
#include "bench/retrieval.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"
#include "sim/instrument.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/test_support.h"

namespace dorvane::testing {
namespace {

constexpr std::int32_t kPort = 48;  // DORVANE_COM49

// How long a poll of the bench may go on: a bound for a broken bench only, since a scan here ends
// in well under a second.
bool pollingTooLong(std::chrono::steady_clock::time_point start) {
  return std::chrono::steady_clock::now() - start > std::chrono::seconds(60);
}

class InstrumentRoundTrip : public ::testing::Test {
 protected:
  void startBench(const sim::InstrumentOptions& options) {
    setenv("DORVANE_COM49", pty.slavePath().c_str(), 1);
    instrument = std::make_unique<sim::Instrument>(pty.masterFd(), options);
    instrument->start();
    ASSERT_EQ(link::openPort(services, kPort, 38400), 0);
  }
  ~InstrumentRoundTrip() override {
    link::closePort(services, kPort);
    instrument.reset();
  }

  // Reads the bench's setup and puts scan settings for `points` and `scans` into it, as the
  // driver's initialisation does.
  void configure(std::int32_t points, std::int32_t scans) {
    ASSERT_EQ(bench::transmitSetup(services, kPort, setup, benchError), 0);
    bench::ScanRequest request;
    request.bench = bench::decodeBench(log, setup, request.benchModel);
    request.points = points;
    request.scans = scans;
    family = request.bench;
    bench::loadScanSettings(request, settings, setup);
    settings.set(bench::field::primaryZpd, 1);
    ASSERT_EQ(bench::txSetup(services, kPort, settings, srqCount, benchError), 1);
    ASSERT_EQ(bench::waitForBench(services, kPort, 1, tables, benchError), 1);
  }

  // Starts a scan and polls until its block is done; the block's stamp.
  std::uint32_t scan() {
    const std::uint32_t stamp = bench::startScan(services, kPort, 5, srqCount, 0, tables, benchError);
    EXPECT_NE(stamp, 0u) << "error " << benchError;
    for (const auto start = std::chrono::steady_clock::now(); stamp != 0 && !pollingTooLong(start);) {
      if (bench::pollScanDone(services, kPort, stamp, tables, benchError) == 1) return stamp;
      platform::systemClock().sleep(10);
    }
    ADD_FAILURE() << "the scan never finished";
    return 0;
  }

  // The volts the bench's counts for `stamp` stand for, from the conversion's formula in doubles.
  std::vector<double> expectedVolts(std::uint32_t stamp, double range) const {
    const auto blocks = instrument->blocks();
    std::uint16_t scans = 0;
    for (const auto& block : blocks) {
      if (block.stamp == stamp) scans = block.scans;
    }
    std::vector<double> volts;
    for (std::uint32_t count : instrument->blockCounts(stamp)) {
      volts.push_back(count * range / (scans * 32768.0) - range);
    }
    return volts;
  }

  // Retrieves the block; its volts, or nothing when the retrieval failed (with the buffer null).
  std::optional<std::vector<double>> retrieve(std::uint32_t stamp) {
    float* data = reinterpret_cast<float*>(0x1);  // the retrieval must set it either way
    std::int32_t points = 0;
    if (bench::rxSpectrum(services, kPort, family, stamp, data, points, setup, srqCount, benchError) != 1) {
      EXPECT_EQ(data, nullptr);
      return std::nullopt;
    }
    std::unique_ptr<float[]> owned(data);
    return std::vector<double>(data, data + points);
  }

  static void expectVoltsNear(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_NEAR(got[i], want[i], 2e-5) << "point " << i;
    }
  }

  sim::PseudoTerminal pty;
  std::unique_ptr<sim::Instrument> instrument;
  ScratchDirectory scratch;
  runtime::LogFile log{platform::systemClock(), [this] { return (scratch.path() / "libdorvane.so").string(); }};
  link::LinkServices services{platform::systemSerialLibrary(), platform::systemClock(), log};
  bench::BenchSetup setup;
  bench::ScanSettings settings;
  bench::StatusTables tables;
  std::int32_t family = 0;
  std::int32_t benchError = 0;
  std::uint16_t srqCount = 0;
};

TEST_F(InstrumentRoundTrip, ScanRetrievedAsTheVoltsOfTheBenchsCountsForEachPointSizeAndFamily) {
  struct Case {
    sim::BenchIdentity identity;
    std::uint8_t adcVolts;
    double range;
    std::int32_t scans;  // 1: 2-byte points, 16: 3-byte, forced 4-byte below
    sim::PointSize pointSize;
  };
  const Case cases[] = {
      {{9, 60}, 10, 10.0, 1, sim::PointSize::Auto},
      {{11, 1}, 5, 5.0, 16, sim::PointSize::Auto},
      {{8, 51}, 0, 5.0, 4, sim::PointSize::Four},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity.family);
    sim::InstrumentOptions options;
    options.identity = c.identity;
    options.adcVolts = c.adcVolts;
    options.pointSize = c.pointSize;
    startBench(options);
    configure(1024, c.scans);
    EXPECT_EQ(setup.get(bench::field::adcVolts), c.adcVolts);
    EXPECT_EQ(instrument->setupField(bench::field::dataPoints), 1088u);
    EXPECT_EQ(instrument->setupField(bench::field::sampScans), static_cast<std::uint32_t>(c.scans));

    const std::uint32_t stamp = scan();
    ASSERT_NE(stamp, 0u);
    const auto volts = retrieve(stamp);
    ASSERT_TRUE(volts) << "error " << benchError;
    expectVoltsNear(*volts, expectedVolts(stamp, c.range));
    EXPECT_EQ(benchError, 0);
    link::closePort(services, kPort);
    instrument.reset();
  }
}

TEST_F(InstrumentRoundTrip, FailedBlockAndUnknownStampEndInTheirCodes) {
  startBench({});
  configure(256, 2);
  instrument->troubleNextScan(sim::ScanTrouble::FailedScan);
  const std::uint32_t stamp = bench::startScan(services, kPort, 5, srqCount, 0, tables, benchError);
  ASSERT_NE(stamp, 0u);
  std::int32_t done = 0;
  for (const auto start = std::chrono::steady_clock::now(); benchError == 0 && done == 0 && !pollingTooLong(start);) {
    done = bench::pollScanDone(services, kPort, stamp, tables, benchError);
    platform::systemClock().sleep(10);
  }
  EXPECT_EQ(done, -1);
  EXPECT_EQ(benchError, kErrorBlockFailedScan);

  // The bench refuses a block it does not hold; the retrieval fails cleanly and the line stays
  // usable for the next request.
  EXPECT_FALSE(retrieve(12345));
  EXPECT_EQ(bench::transmitSetup(services, kPort, setup, benchError), 0);
}

// A 16384-point block over a line that damages, loses, refuses or ignores about one packet in a
// hundred: every retrieval gives exactly the bench's data or fails cleanly, never other data.
TEST_F(InstrumentRoundTrip, NoisyLineGivesTheBenchsDataOrACleanFailure) {
  startBench({});
  configure(16384, 16);
  const std::uint32_t stamp = scan();
  ASSERT_NE(stamp, 0u);
  const std::vector<double> want = expectedVolts(stamp, 10.0);
  ASSERT_EQ(want.size(), 16448u);

  sim::FaultOdds odds;
  odds.corruptReply = 0.01;
  odds.loseReplyByte = 0.01;
  odds.nak = 0.01;
  odds.silence = 0.01;
  int intact = 0;
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    instrument->link().faults().randomize(seed, odds);
    const auto volts = retrieve(stamp);
    if (!volts) continue;  // a clean failure: nothing handed over
    expectVoltsNear(*volts, want);
    ++intact;
  }
  EXPECT_GE(intact, 1);
  bool lostByte = false;
  for (const auto& fault : instrument->link().faults().applied()) {
    lostByte |= fault.kind == sim::FaultKind::LoseReplyByte;
  }
  EXPECT_TRUE(lostByte) << "the seeds no longer lose a byte; pick others";
}

}  // namespace
}  // namespace dorvane::testing
