// Prints the time of a packet and its answer over a pseudo-terminal: the driver's link sends a
// command word to the virtual bench, which answers with a one-packet reply, many times over, with
// the log off and then on.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "link/message.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"
#include "sim/bench_link.h"
#include "sim/pseudo_terminal.h"

int main(int argc, char** argv) {
  using namespace dorvane;
  namespace fs = std::filesystem;
  const int exchanges = argc > 1 ? std::stoi(argv[1]) : 2000;
  const fs::path directory = fs::temp_directory_path() / "dorvane-round-trip-bench";
  fs::create_directories(directory);

  sim::PseudoTerminal pty;
  sim::BenchLink bench(pty.masterFd(), [](const std::vector<std::uint8_t>&) {
    return std::optional<std::vector<std::uint8_t>>(std::vector<std::uint8_t>{0x00, 0x01, 0x12, 0x34});
  });
  bench.start();
  constexpr int kPort = 62;
  setenv("DORVANE_COM63", pty.slavePath().c_str(), 1);

  runtime::LogFile log(platform::systemClock(), [&] { return (directory / "libdorvane.so").string(); });
  link::LinkServices services{platform::systemSerialLibrary(), platform::systemClock(), log};
  if (link::openPort(services, kPort, 38400) != 0) {
    std::fprintf(stderr, "cannot open %s\n", pty.slavePath().c_str());
    return 1;
  }

  int failures = 0;
  for (const bool logOn : {false, true}) {
    if (logOn) log.enable();
    const int rounds = logOn ? exchanges / 10 : exchanges;
    std::int32_t benchError = 0;
    std::uint16_t srqCount = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
      std::uint8_t reply[16];
      std::int32_t length = 0;
      if (link::txCommand(services, kPort, 0x8090, srqCount, benchError) != 1 ||
          link::rxMessage(services, kPort, reply, sizeof reply, length, srqCount, benchError) != 1) {
        ++failures;
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Each exchange is six packets, each answered by one byte: three out, three back.
    std::printf("log %s: %d command+reply exchanges in %.3f s: %.1f us per exchange, %.1f us per packet\n",
                logOn ? "on " : "off", rounds, seconds, seconds * 1e6 / rounds, seconds * 1e6 / rounds / 6);
  }
  link::closePort(services, kPort);
  bench.stop();
  fs::remove_all(directory);
  std::printf("failed exchanges: %d\n", failures);
  return failures == 0 ? 0 : 1;
}
