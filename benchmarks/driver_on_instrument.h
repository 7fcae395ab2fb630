// The set-up the acquisition benchmarks share: the virtual instrument on a pseudo-terminal, and a
// driver of the benchmark's own whose settings name that pty, with its log off, opened and
// initialised for `points`.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "driver/driver.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/serial_port.h"
#include "sim/instrument.h"
#include "sim/pseudo_terminal.h"

namespace dorvane::benchmarks {

class QuietOutput : public platform::DebugOutput {
 public:
  void write(const char*) override {}
};

class DriverOnInstrument {
 public:
  // `port` (0-based) is the driver's; the pty goes into DORVANE_COM<port + 1>. The instrument is
  // not started, so the caller can set its faults first.
  DriverOnInstrument(const char* name, int port, std::uint32_t points, const sim::InstrumentOptions& benchOptions,
                     const sim::BenchLinkOptions& lineOptions)
      : scratch_(std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()))),
        port_(port),
        points_(points),
        instrument(pty_.masterFd(), benchOptions, lineOptions),
        driver(driver::DriverServices{platform::systemClock(), quiet_, platform::systemSerialLibrary(),
                                      [this] { return (scratch_ / "libdorvane.so").string(); }}) {
    setenv(("DORVANE_COM" + std::to_string(port + 1)).c_str(), pty_.slavePath().c_str(), 1);
    std::filesystem::create_directories(scratch_);
  }
  ~DriverOnInstrument() { std::filesystem::remove_all(scratch_); }

  // Starts the instrument, loads the settings, opens and initialises; false when the bench did not.
  bool open() {
    instrument.start();
    const std::string ini = (scratch_ / "dorvane.ini").string();
    std::ofstream(ini) << "[Settings]\nport=" << port_ + 1 << "\nbaud=38400\nlog=0\nfvel=4\nrvel=4\npoints=" << points_
                       << "\nlasersamp=2\nlturn=1000\nqturn=300\ndetector=1\niris=50\n";
    driver.execute(("@" + ini).c_str());
    return driver.open(0) == 0 && driver.initialize() == 0;
  }

 private:
  std::filesystem::path scratch_;
  int port_;
  std::uint32_t points_;
  sim::PseudoTerminal pty_;
  QuietOutput quiet_;

 public:
  sim::Instrument instrument;
  driver::Driver driver;
};

}  // namespace dorvane::benchmarks
