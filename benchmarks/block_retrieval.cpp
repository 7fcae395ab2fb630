// Prints how long a data block takes to come back from the virtual instrument: a 16448-point
// co-add of 16 scans (3 bytes a point) retrieved and converted to volts, over an unpaced
// pseudo-terminal and over one paced like a UART at the given baud rates.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
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

namespace {

using namespace dorvane;

// One instrument at `baud` (0: unpaced): the time of each of `rounds` retrievals of one block.
int measure(std::uint32_t baud, int rounds, runtime::LogFile& log) {
  constexpr int kPort = 61;
  sim::PseudoTerminal pty;
  sim::Instrument instrument(pty.masterFd(), {}, sim::BenchLinkOptions{.baud = baud});
  instrument.start();
  setenv("DORVANE_COM62", pty.slavePath().c_str(), 1);
  link::LinkServices services{platform::systemSerialLibrary(), platform::systemClock(), log};
  // The driver's end runs at the rate the bench paces: the serial layer rests for the time its
  // own rate needs to carry a packet.
  if (link::openPort(services, kPort, baud == 0 ? 38400 : static_cast<std::int32_t>(baud)) != 0) return 1;

  std::int32_t benchError = 0;
  std::uint16_t srqCount = 0;
  bench::BenchSetup setup;
  bench::ScanSettings settings;
  bench::StatusTables tables;
  bench::ScanRequest request;
  if (bench::transmitSetup(services, kPort, setup, benchError) != 0) return 1;
  request.bench = bench::decodeBench(log, setup, request.benchModel);
  bench::loadScanSettings(request, settings, setup);
  if (bench::txSetup(services, kPort, settings, srqCount, benchError) != 1) return 1;
  bench::waitForBench(services, kPort, 1, tables, benchError);
  const std::uint32_t stamp = bench::startScan(services, kPort, 5, srqCount, 0, tables, benchError);
  while (stamp != 0 && bench::pollScanDone(services, kPort, stamp, tables, benchError) == 0) {
    platform::systemClock().sleep(10);
  }

  int failures = 0;
  double total = 0;
  std::int32_t points = 0;
  for (int i = 0; i < rounds; ++i) {
    float* data = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t got =
        bench::rxSpectrum(services, kPort, request.bench, stamp, data, points, setup, srqCount, benchError);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::unique_ptr<float[]> owned(data);
    if (got != 1) ++failures;
  }
  link::closePort(services, kPort);
  const double perBlock = total / rounds;
  const double bytes = points * 3.0;
  std::printf("%-8s %d points x 3 bytes: %8.1f ms a block, %9.0f points/s, %7.1f kB/s of points%s\n",
              baud == 0 ? "unpaced" : (std::to_string(baud) + " Bd").c_str(), points, perBlock * 1e3,
              points / perBlock, bytes / perBlock / 1e3, failures ? "  (failures!)" : "");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const int rounds = argc > 1 ? std::stoi(argv[1]) : 5;
  const fs::path directory = fs::temp_directory_path() / "dorvane-spectrum-bench";
  fs::create_directories(directory);
  runtime::LogFile log(platform::systemClock(), [&] { return (directory / "libdorvane.so").string(); });

  int failed = 0;
  for (const std::uint32_t baud : {0u, 921600u, 115200u}) {
    failed |= measure(baud, baud == 115200u ? 1 : rounds, log);  // a slow line: one block is enough
  }
  fs::remove_all(directory);
  return failed;
}
