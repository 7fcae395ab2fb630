// Prints what one log line costs: every line is opened, written, flushed, committed to the disk and
// closed, so this is the floor under every logged packet exchange while the log is on.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "runtime/log_file.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const int lines = argc > 1 ? std::stoi(argv[1]) : 2000;
  const fs::path directory = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "dorvane-log-bench";
  fs::create_directories(directory);
  fs::remove(directory / "dorvane_log.txt");

  dorvane::runtime::LogFile log(dorvane::platform::systemClock(),
                                [&] { return (directory / "libdorvane.so").string(); });
  log.enable();
  const auto start = std::chrono::steady_clock::now();
  int written = 0;
  for (int i = 0; i < lines; ++i) written += log.print("    txPacket got an ACK %d", i);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("log lines written: %d of %d in %s\n", written, lines, directory.string().c_str());
  std::printf("per line: %.1f us (%.0f lines/s)\n", seconds * 1e6 / lines, lines / seconds);
  fs::remove(directory / "dorvane_log.txt");
  return written == lines ? 0 : 1;
}
