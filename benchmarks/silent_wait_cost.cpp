// Prints what the link's longest quiet wait costs the machine: rxChar with limit 1 (2000 ms) on a
// pseudo-terminal that never answers, timed on the wall clock and in CPU time (getrusage).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "link/com_port.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dorvane;
  const int waits = argc > 1 ? std::stoi(argv[1]) : 3;

  // The far end: a pseudo-terminal master that is held open and never writes.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return 1;
  }
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  constexpr int kPort = 63;
  setenv("DORVANE_COM64", ptsname(master), 1);

  runtime::LogFile log(platform::systemClock(), [] { return std::string("/nonexistent/libdorvane.so"); });
  link::LinkServices services{platform::systemSerialLibrary(), platform::systemClock(), log};
  if (link::openPort(services, kPort, 38400) != 0) {
    std::fprintf(stderr, "cannot open the pseudo-terminal %s\n", ptsname(master));
    return 1;
  }

  for (int i = 0; i < waits; ++i) {
    std::uint16_t timeoutFlag = 0;
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t result = link::rxChar(services, kPort, 1, timeoutFlag);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("rxChar limit 1 on a silent line: result %d after %.1f ms wall, %.3f ms CPU (%.4f%%)\n", result,
                wall * 1e3, cpu * 1e3, 100.0 * cpu / wall);
  }
  link::closePort(services, kPort);
  close(master);
  return 0;
}
