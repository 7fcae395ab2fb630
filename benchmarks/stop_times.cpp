// Stops acquisitions at random moments on a paced line and prints how long spectrometer_stop took in
// each phase of a file (START SCAN and its waits, the polls, the retrieval), and whether the bench
// was left so that the next spectrometer_open works at once.
//
// Each trial starts an acquisition that runs until stopped, waits for the phase it aims at (by the
// driver's progress fields: a new stamp ends START SCAN, the scans complete end the polls, the file
// count ends the retrieval), waits a random part of that phase's length, and stops. The phase is
// read again just before the stop, so a trial that slipped into the next phase counts there.
// Usage: stop_times [--trials N per phase] [--points N] [--baud B] [--seed S]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "benchmarks/driver_on_instrument.h"

namespace {

using namespace dorvane;
using Steady = std::chrono::steady_clock;

struct Options {
  int trials = 8;
  std::uint32_t points = 16384;
  std::uint32_t baud = 38400;
  std::uint64_t seed = 1;
};

enum Phase { kStartScan, kPolling, kRetrieval, kPhases };
const char* const kPhaseNames[kPhases] = {"START SCAN and its waits", "polling", "retrieval"};

// The phase of the current file, from the progress fields and the stamp of the last file counted.
class PhaseWatch {
 public:
  PhaseWatch(driver::Driver& driver, std::int32_t scans) : driver_(driver), scans_(scans) {}

  Phase now() {
    const driver::DriverState& s = driver_.state();
    const std::int32_t files = s._filesComplete.load();
    if (files != files_) {
      files_ = files;
      countedStamp_ = s.scanStamp.load();
    }
    if (s.scanStamp.load() == countedStamp_) return kStartScan;
    return s._scansComplete.load() < scans_ ? kPolling : kRetrieval;
  }
  void reset() {
    files_ = 0;
    countedStamp_ = 0;
  }

 private:
  driver::Driver& driver_;
  std::int32_t scans_;
  std::int32_t files_ = 0;
  std::int32_t countedStamp_ = 0;
};

double msSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

void printFigures(const char* what, std::vector<double> ms) {
  if (ms.empty()) {
    std::printf("    %-8s none\n", what);
    return;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("    %-8s min %6.0f ms, median %6.0f ms, max %6.0f ms\n", what, ms.front(), ms[ms.size() / 2],
              ms.back());
}

int run(const Options& options) {
  constexpr std::int32_t kScans = 4;
  sim::InstrumentOptions benchOptions;
  benchOptions.dataPoints = options.points;
  benchOptions.pointSize = sim::PointSize::Three;
  benchOptions.seed = options.seed;
  benchOptions.perScan = std::chrono::milliseconds(100);
  benchOptions.allocation = std::chrono::milliseconds(300);  // START SCAN waits for the stamp meanwhile
  sim::BenchLinkOptions lineOptions;
  lineOptions.baud = options.baud;
  benchmarks::DriverOnInstrument rig("stop_times", 61, options.points, benchOptions, lineOptions);
  sim::Instrument& instrument = rig.instrument;
  driver::Driver& driver = rig.driver;
  if (!rig.open()) {
    std::printf("the bench did not open\n");
    return 1;
  }
  driver.setScans(kScans);
  driver.setFiles(0);

  // How long each phase lasts, roughly: the stop falls at a random point inside it.
  const double retrievalMs = options.points * 3.0 * 10.0 * 1000.0 / options.baud;
  const double phaseMs[kPhases] = {300.0, kScans * 100.0, retrievalMs};
  std::mt19937_64 random(options.seed);
  std::vector<double> stopMs[kPhases], openMs[kPhases];
  int stuck[kPhases] = {}, openFailed[kPhases] = {}, aborts[kPhases] = {};
  PhaseWatch watch(driver, kScans);

  for (int trial = 0; trial < options.trials * kPhases; ++trial) {
    const auto aim = static_cast<Phase>(trial % kPhases);
    watch.reset();
    if (driver.startCoadd() != 0) {
      std::printf("the acquisition did not start\n");
      return 1;
    }
    // The first file's START SCAN runs inside startCoadd: aim at the second file's.
    const std::int32_t files = aim == kStartScan ? 1 : 0;
    const Steady::time_point giveUp = Steady::now() + std::chrono::seconds(120);
    while ((watch.now() != aim || driver.getFileProgress() < files) && Steady::now() < giveUp) {
      platform::systemClock().sleep(1);
    }
    const Steady::time_point stopAt =
        Steady::now() + std::chrono::microseconds(static_cast<long>(
                            std::uniform_real_distribution<double>(0, 0.9)(random) * phaseMs[aim] * 1000));
    while (Steady::now() < stopAt) {
      watch.now();
      platform::systemClock().sleep(1);
    }

    const Phase phase = watch.now();
    const std::uint64_t abortsBefore = instrument.link().stats().abortsReceived;
    const Steady::time_point stopStart = Steady::now();
    driver.stop();
    stopMs[phase].push_back(msSince(stopStart));
    if (driver.state().status.load() != DORVANE_STATUS_IDLE) ++stuck[phase];
    aborts[phase] += static_cast<int>(instrument.link().stats().abortsReceived - abortsBefore);

    const Steady::time_point openStart = Steady::now();
    if (driver.open(0) != 0) ++openFailed[phase];
    openMs[phase].push_back(msSince(openStart));
  }
  driver.close();

  std::printf("stops of acquisitions of %u-point files (3-byte points, %d scans) on a line paced at %u Bd\n",
              options.points, kScans, options.baud);
  for (int p = 0; p < kPhases; ++p) {
    std::printf("  %s: %zu stops, ABORTs the bench received %d, status not back to idle %d\n", kPhaseNames[p],
                stopMs[p].size(), aborts[p], stuck[p]);
    printFigures("stop", stopMs[p]);
    std::printf("    next open: %zu of %zu returned 0\n", openMs[p].size() - static_cast<std::size_t>(openFailed[p]),
                openMs[p].size());
    printFigures("open", openMs[p]);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--trials") options.trials = std::max(1, std::atoi(value));
    else if (flag == "--points") options.points = static_cast<std::uint32_t>(std::atol(value));
    else if (flag == "--baud") options.baud = static_cast<std::uint32_t>(std::atol(value));
    else if (flag == "--seed") options.seed = std::strtoull(value, nullptr, 10);
    else {
      std::fprintf(stderr, "stop_times: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr, "stop_times: %s needs a value\n", argv[argc - 1]);
    return 2;
  }
  return run(options);
}
