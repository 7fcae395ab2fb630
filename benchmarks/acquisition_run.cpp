// Runs co-added acquisitions through the driver against the virtual instrument over a
// pseudo-terminal and prints what the host saw and what it cost:
//   - every file checked against the bench's own data: intact, failed (the previous co-add came
//     again, or none) or corrupted (none of the bench's co-adds);
//   - the acquisition thread's CPU time per second of wall time;
//   - the time from the bench's "done" to the host's co-add event, and the part of it after the
//     driver saw the block done (retrieval, conversion, storing).
// Usage: acquisition_run [--files N] [--points N] [--scans N] [--baud B] [--faults RATE] [--seed S]
//        [--one-by-one]  (one startCoadd per file, so each event is matched to its block's end)
#include <dirent.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "benchmarks/driver_on_instrument.h"

namespace {

using namespace dorvane;
using Steady = std::chrono::steady_clock;

struct Options {
  int files = 20;
  std::uint32_t points = 16384;
  int scans = 4;
  std::uint32_t baud = 0;
  double faults = 0;
  std::uint64_t seed = 1;
  bool oneByOne = false;
};

// CPU seconds of the thread named dorvane-acquire, or -1 while there is none.
double acquisitionThreadCpu() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  double seconds = -1;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const std::string dir = std::string("/proc/self/task/") + entry->d_name;
    std::string name;
    std::getline(std::ifstream(dir + "/comm"), name);
    if (name != "dorvane-acquire") continue;
    std::string stat;
    std::getline(std::ifstream(dir + "/stat"), stat);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) user = std::stoull(field);
      if (i == 15) system = std::stoull(field);
    }
    seconds = static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  closedir(tasks);
  return seconds;
}

std::uint64_t waitForEvent(int fd, int timeoutMs) {
  pollfd descriptor{fd, POLLIN, 0};
  if (poll(&descriptor, 1, timeoutMs) <= 0) return 0;
  std::uint64_t signals = 0;
  return read(fd, &signals, sizeof signals) == sizeof signals ? signals : 0;
}

double wallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int run(const Options& options) {
  sim::InstrumentOptions benchOptions;
  benchOptions.dataPoints = options.points;
  benchOptions.pointSize = sim::PointSize::Three;
  benchOptions.seed = options.seed;
  sim::BenchLinkOptions lineOptions;
  lineOptions.baud = options.baud;
  benchmarks::DriverOnInstrument rig("acquisition_run", 62, options.points, benchOptions, lineOptions);
  sim::Instrument& instrument = rig.instrument;
  driver::Driver& driver = rig.driver;
  if (options.faults > 0) {
    sim::FaultOdds odds;
    odds.corruptReply = odds.loseReplyByte = odds.nak = options.faults;
    odds.silence = options.faults / 5;
    instrument.link().faults().randomize(options.seed, odds);
  }
  if (!rig.open()) {
    std::printf("the bench did not open\n");
    return 1;
  }
  const int event = eventfd(0, EFD_CLOEXEC);
  driver.setCoaddCompleteEventHandle(static_cast<std::uintptr_t>(event));
  driver.setScans(options.scans);
  driver.setFiles(options.oneByOne ? 1 : options.files);

  int intact = 0, failed = 0, corrupted = 0, seen = 0;
  double lastStamp = 0, firstCpu = -1, lastCpu = -1;
  Steady::time_point firstCpuAt, lastCpuAt;
  std::vector<double> doneToEvent, seenToEvent;
  const Steady::time_point start = Steady::now();
  if (!options.oneByOne && driver.startCoadd() != 0) return 1;
  while (seen < options.files) {
    if (options.oneByOne && driver.startCoadd() != 0) return 1;
    const std::uint64_t signals = waitForEvent(event, 120000);
    const Steady::time_point eventAt = Steady::now();
    const double eventWallMs = wallMs();
    if (signals == 0) break;
    seen += static_cast<int>(signals);
    failed += static_cast<int>(signals) - 1;  // files whose event merged with this one are not checked
    if (const double cpu = acquisitionThreadCpu(); cpu >= 0) {
      if (firstCpu < 0) {
        firstCpu = cpu;
        firstCpuAt = eventAt;
      }
      lastCpu = cpu;
      lastCpuAt = eventAt;
    }
    std::vector<double> values(static_cast<std::size_t>(std::max(driver.getPoints(), 1)));
    double stamp = 0;
    if (driver.getData(values.data(), static_cast<std::int32_t>(values.size()), &stamp) != 0 || stamp == lastStamp) {
      ++failed;
      continue;
    }
    lastStamp = stamp;
    bool matched = false;
    for (const auto& block : instrument.blocks()) {
      const auto counts = instrument.blockCounts(block.stamp);
      if (counts.size() != values.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < counts.size() && same; ++i) {
        same = std::abs(values[i] - (counts[i] * 10.0 / (block.scans * 32768.0) - 10.0)) < 2e-6;
      }
      if (same) {
        matched = true;
        if (options.oneByOne) {
          doneToEvent.push_back(std::chrono::duration<double, std::milli>(eventAt - block.finishedAt).count());
        }
      }
    }
    seenToEvent.push_back(eventWallMs - stamp);
    matched ? ++intact : ++corrupted;
    if (options.oneByOne) {
      for (int i = 0; i < 1000 && driver.getStatus() == 64; ++i) platform::systemClock().sleep(5);
    }
  }
  const double wall = std::chrono::duration<double>(Steady::now() - start).count();
  driver.stop();
  driver.close();
  close(event);

  const auto summary = [](const char* what, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double m : ms) sum += m;
    std::printf("  %s: mean %.1f ms, median %.1f ms, max %.1f ms (%zu files)\n", what, sum / ms.size(),
                ms[ms.size() / 2], ms.back(), ms.size());
  };
  std::printf("%d files of %u points x %d scans, line %s, faults %.3f per packet (seed %llu)\n", options.files,
              options.points, options.scans, options.baud == 0 ? "unpaced" : (std::to_string(options.baud) + " Bd").c_str(),
              options.faults, static_cast<unsigned long long>(options.seed));
  std::printf("  intact %d, failed %d, corrupted %d; faults applied %zu; %.1f s\n", intact, failed, corrupted,
              instrument.link().faults().applied().size(), wall);
  if (firstCpu >= 0 && lastCpuAt > firstCpuAt) {
    std::printf("  acquisition thread CPU: %.4f s per second of wall time\n",
                (lastCpu - firstCpu) / std::chrono::duration<double>(lastCpuAt - firstCpuAt).count());
  }
  summary("bench done -> host event", doneToEvent);
  summary("driver saw done -> host event", seenToEvent);
  return corrupted == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "0";
    if (flag == "--one-by-one") {
      options.oneByOne = true;
      continue;
    }
    if (flag == "--files") options.files = std::atoi(value);
    else if (flag == "--points") options.points = static_cast<std::uint32_t>(std::atol(value));
    else if (flag == "--scans") options.scans = std::atoi(value);
    else if (flag == "--baud") options.baud = static_cast<std::uint32_t>(std::atol(value));
    else if (flag == "--faults") options.faults = std::atof(value);
    else if (flag == "--seed") options.seed = std::strtoull(value, nullptr, 10);
    else {
      std::fprintf(stderr, "acquisition_run: unknown option %s\n", argv[i]);
      return 2;
    }
    ++i;
  }
  return run(options);
}
