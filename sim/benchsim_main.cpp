// dorvane-benchsim: the virtual bench as a program. It prints the pty slave's path as its first line
// on stdout, so a script can hand it to the driver, and serves until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "sim/benchsim_options.h"
#include "sim/instrument.h"
#include "sim/pseudo_terminal.h"

namespace {

using namespace dorvane::sim;

// The port whose DORVANE_COM<port> variable the hint names: port=49 in the settings file.
constexpr int kHintPort = 49;

void printSummary(const BenchStats& s, std::size_t faults) {
  const auto n = [](std::uint64_t count) { return static_cast<unsigned long long>(count); };
  std::fprintf(stderr,
               "dorvane-benchsim: stopped. requests %llu, replies %llu (abandoned %llu, refused %llu), "
               "packets in %llu (damaged %llu, truncated %llu), stray bytes %llu, NAKs sent %llu, "
               "SYNCs in %llu, SRQs sent %llu, faults applied %zu\n",
               n(s.requestsReceived), n(s.repliesSent), n(s.repliesAbandoned), n(s.repliesRefused),
               n(s.packetsReceived), n(s.damagedPackets), n(s.truncatedPackets), n(s.strayBytes), n(s.naksSent),
               n(s.syncsReceived), n(s.srqSent), faults);
}

// One line per block event, for a script that times a host against the bench: the steady clock is
// CLOCK_MONOTONIC, which every process on the machine shares.
void reportBlock(BlockEvent event, const BlockInfo& block) {
  const char* what = event == BlockEvent::DataAsked                              ? "data asked for"
                     : event == BlockEvent::DataSent                               ? "data sent"
                     : (block.flags & dorvane::bench::data_def::done) != 0 ? "done"
                                                                           : "failed";
  const auto at = event == BlockEvent::ScanEnded ? block.finishedAt : std::chrono::steady_clock::now();
  std::fprintf(stderr, "dorvane-benchsim: block %lu of %lu points %s at %.3f ms\n",
               static_cast<unsigned long>(block.stamp), static_cast<unsigned long>(block.points), what,
               std::chrono::duration<double, std::milli>(at.time_since_epoch()).count());
}

int serve(BenchsimOptions options) {
  // Blocked before any thread starts, so every thread inherits the mask and only sigwait takes
  // them. SIGHUP too: a closed terminal should still remove the symlink.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A reader that closes stdout after the first line must not kill the bench before it tidies up.
  signal(SIGPIPE, SIG_IGN);

  if (options.reportBlocks) options.instrument.onBlock = reportBlock;
  BenchStats stats;
  std::size_t faults = 0;
  {
    PseudoTerminal pty;
    if (!options.linkPath.empty()) pty.linkAs(options.linkPath);
    Instrument bench(pty.masterFd(), options.instrument, options.link);
    if (options.faultRate > 0)
      bench.link().faults().randomize(options.instrument.seed, lineFaultOdds(options.faultRate));
    bench.start();

    std::printf("%s\n", pty.slavePath().c_str());
    std::fflush(stdout);
    const std::string& port = options.linkPath.empty() ? pty.slavePath() : options.linkPath;
    std::fprintf(stderr,
                 "dorvane-benchsim: bench %d/%d on %s; point the driver at it with "
                 "'export DORVANE_COM%d=%s' and port=%d in its settings file; Ctrl-C stops it\n",
                 options.instrument.identity.family, options.instrument.identity.model, pty.slavePath().c_str(),
                 kHintPort, port.c_str(), kHintPort);

    int received = 0;
    sigwait(&stopSignals, &received);
    bench.link().stop();
    stats = bench.link().stats();
    faults = bench.link().faults().applied().size();
  }  // the instrument, then the pty and its symlink
  printSummary(stats, faults);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine line = parseCommandLine({argv + 1, argv + argc});
  if (!line.options) {
    std::fputs(line.message.c_str(), line.exitCode == 0 ? stdout : stderr);
    return line.exitCode;
  }
  try {
    return serve(*line.options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dorvane-benchsim: %s\n", error.what());
    return 1;
  }
}
