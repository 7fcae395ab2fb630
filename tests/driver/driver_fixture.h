// A driver of the tests' own, on the system's serial layer and clock, talking to the virtual
// instrument over a real pseudo-terminal, with its log in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "sim/instrument.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/test_support.h"

namespace dorvane::testing {

// The debug output written from any thread.
class SharedDebugOutput : public platform::DebugOutput {
 public:
  void write(const char* text) override {
    std::lock_guard guard(mutex_);
    lines_.emplace_back(text);
  }
  std::vector<std::string> lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class DriverOnBench : public ::testing::Test {
 protected:
  // The driver's port 49 is the device that DORVANE_COM50 names.
  static constexpr std::int32_t kPort = 49;

  DriverOnBench();
  ~DriverOnBench() override;

  // Starts the instrument on the pty.
  void startBench(const sim::InstrumentOptions& options = {}, const sim::BenchLinkOptions& linkOptions = {});
  // Loads settings with port 50 and the log on; `extra` lines of section [Settings] override them.
  void loadSettings(const std::string& extra = "");

  // The log's lines without their time stamps, in order.
  std::vector<std::string> logLines() const;
  // The log lines from the first one equal to `first` on.
  std::vector<std::string> logLinesFrom(const std::string& first) const;
  // True when `wanted` appear in the log in this order (other lines may come between); a wanted
  // line ending in '*' matches any line that starts with the rest.
  bool logHasInOrder(const std::vector<std::string>& wanted) const;
  std::size_t countLogLines(const std::string& line) const;
  // Waits until the line appears in the log (a final '*' as in logHasInOrder); false when it never
  // did within a minute, a bound for a broken driver only.
  bool waitForLogLine(const std::string& line) const;
  // Waits until the acquisition thread has ended and the status is back at 4; false when that did
  // not happen within a minute.
  bool waitUntilIdle() const;

  // The volts that the bench's counts for block `stamp` stand for, from the conversion's formula.
  std::vector<double> benchVolts(std::uint32_t stamp, double range = 10.0) const;
  // True when the serial layer holds the driver's port open.
  static bool portIsOpen();

  ScratchDirectory scratch;
  SharedDebugOutput debug;
  sim::PseudoTerminal pty;
  std::unique_ptr<sim::Instrument> instrument;
  std::unique_ptr<driver::Driver> driver;
};

// An eventfd as the host's co-add event.
class HostEvent {
 public:
  HostEvent();
  ~HostEvent();
  HostEvent(const HostEvent&) = delete;
  HostEvent& operator=(const HostEvent&) = delete;

  std::uintptr_t handle() const { return static_cast<std::uintptr_t>(fd_); }
  // Waits up to `timeoutMs` for a signal and resets the event: the number of signals since the
  // last reset, 0 when none came in time.
  std::uint64_t wait(int timeoutMs);
  // The bound of a wait for a file that should come: generous, for a broken driver only (a file
  // takes well under a second, or a few under ThreadSanitizer).
  static constexpr int kFileBoundMs = 60000;

 private:
  int fd_;
};

}  // namespace dorvane::testing
