// The driver-on-bench fixture.
#include "tests/driver/driver_fixture.h"

#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>

#include "platform/clock.h"
#include "driver/scan_thread.h"
#include "platform/serial_port.h"

namespace dorvane::testing {

DriverOnBench::DriverOnBench() {
  setenv("DORVANE_COM50", pty.slavePath().c_str(), 1);
  driver = std::make_unique<driver::Driver>(driver::DriverServices{
      platform::systemClock(), debug, platform::systemSerialLibrary(),
      [this] { return (scratch.path() / "libdorvane.so").string(); }});
}

DriverOnBench::~DriverOnBench() {
  driver.reset();  // stops an acquisition still running before the bench goes
  instrument.reset();
}

void DriverOnBench::startBench(const sim::InstrumentOptions& options, const sim::BenchLinkOptions& linkOptions) {
  instrument = std::make_unique<sim::Instrument>(pty.masterFd(), options, linkOptions);
  instrument->start();
}

void DriverOnBench::loadSettings(const std::string& extra) {
  // The reader takes the first of two equal keys, so the extra lines come first.
  const std::string path = scratch.write("dorvane.ini", "[Settings]\n" + extra +
                                                        "port=50\nbaud=38400\nlog=1\nfvel=4\nrvel=4\n"
                                                        "points=16384\nlasersamp=2\nlturn=1000\nqturn=300\n"
                                                        "detector=1\niris=50\n");
  ASSERT_EQ(driver->execute(("@" + path).c_str()), 0);
}

std::vector<std::string> DriverOnBench::logLines() const {
  std::vector<std::string> lines;
  std::istringstream text(readWholeFile(scratch.path() / "dorvane_log.txt"));
  std::string line;
  while (std::getline(text, line)) {
    // "[MM-DD hh:mm:ss]  text": the stamp is 16 characters and two blanks.
    lines.push_back(line.size() >= 18 && line[0] == '[' ? line.substr(18) : line);
  }
  return lines;
}

std::vector<std::string> DriverOnBench::logLinesFrom(const std::string& first) const {
  const std::vector<std::string> lines = logLines();
  const auto start = std::find(lines.begin(), lines.end(), first);
  return {start, lines.end()};
}

bool DriverOnBench::logHasInOrder(const std::vector<std::string>& wanted) const {
  return linesInOrder(logLines(), wanted);
}

std::size_t DriverOnBench::countLogLines(const std::string& line) const {
  const std::vector<std::string> lines = logLines();
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

namespace {

// Polls `condition` until it holds; false when a minute passed first.
bool pollUntil(const std::function<bool()>& condition) {
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > bound) return false;
    platform::systemClock().sleep(50);
  }
  return true;
}

}  // namespace

bool DriverOnBench::waitForLogLine(const std::string& line) const {
  return pollUntil([&] { return logHasInOrder({line}); });
}

bool DriverOnBench::waitUntilIdle() const {
  return pollUntil([&] {
    const auto& thread = driver->state().scanThread;
    return (!thread || !thread->running()) && driver->getStatus() != 64;
  });
}

std::vector<double> DriverOnBench::benchVolts(std::uint32_t stamp, double range) const {
  std::uint16_t scans = 0;
  for (const auto& block : instrument->blocks()) {
    if (block.stamp == stamp) scans = block.scans;
  }
  std::vector<double> volts;
  for (std::uint32_t count : instrument->blockCounts(stamp)) volts.push_back(count * range / (scans * 32768.0) - range);
  return volts;
}

bool DriverOnBench::portIsOpen() { return platform::systemSerialLibrary().portStatus(kPort, 0xFFFF) >= 0; }

HostEvent::HostEvent() : fd_(eventfd(0, EFD_CLOEXEC)) {}
HostEvent::~HostEvent() { ::close(fd_); }

std::uint64_t HostEvent::wait(int timeoutMs) {
  pollfd descriptor{fd_, POLLIN, 0};
  if (poll(&descriptor, 1, timeoutMs) <= 0) return 0;
  std::uint64_t signals = 0;
  if (read(fd_, &signals, sizeof signals) != sizeof signals) return 0;
  return signals;
}

}  // namespace dorvane::testing
