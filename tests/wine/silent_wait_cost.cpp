// Prints what the link's longest quiet wait costs on Windows: rxChar with limit 1 (2000 ms) on a
// COM port whose far end never speaks unasked, on the wall clock and in the process's CPU time.
// Usage: silent_wait_cost COM-NUMBER [WAITS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/com_port.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"

namespace {

double cpuSeconds() {
  FILETIME created{}, ended{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dorvane;
  if (argc < 2) {
    std::fprintf(stderr, "usage: silent_wait_cost COM-NUMBER [WAITS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]) - 1;
  const int waits = argc > 2 ? std::atoi(argv[2]) : 3;
  runtime::LogFile log(platform::systemClock(), [] { return std::string(); });
  link::LinkServices services{platform::systemSerialLibrary(), platform::systemClock(), log};
  if (link::openPort(services, port, 38400) != 0) {
    std::fprintf(stderr, "cannot open COM%d\n", port + 1);
    return 1;
  }
  for (int i = 0; i < waits; ++i) {
    std::uint16_t timeoutFlag = 0;
    const double cpuBefore = cpuSeconds();
    const std::uint32_t start = platform::systemClock().tickCount();
    const std::int32_t result = link::rxChar(services, port, 1, timeoutFlag);
    const double wall = (platform::systemClock().tickCount() - start) / 1e3;
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("rxChar limit 1 on a silent line: result %d after %.0f ms wall, %.1f ms CPU (%.2f%%)\n", result,
                wall * 1e3, cpu * 1e3, 100.0 * cpu / wall);
  }
  link::closePort(services, port);
  return 0;
}
