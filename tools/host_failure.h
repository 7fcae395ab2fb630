// How the host gives up: one line for the user and an exit status. Thrown inside the program only;
// main turns it into the line on stderr.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dorvane::host {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;  // the shells' convention for an end by Ctrl-C

class HostFailure : public std::runtime_error {
 public:
  explicit HostFailure(const std::string& line, int exitStatus = kExitFailure)
      : std::runtime_error(line), exitStatus_(exitStatus) {}
  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

// "spectrometer_open returned -1: no such serial port, or no port set in the settings". `meaning`
// replaces the driver's general phrase where the export gives the code a meaning of its own.
std::string callFailed(const char* exportName, std::int32_t result, const char* meaning = nullptr);
// The failure that ends the work after a stop request: "stopped by Ctrl-C" and `rest` (e.g. "; the
// port is closed"), with the exit status that tells the cause (stopCause).
HostFailure stoppedBy(const std::string& rest);

// "1 file", "3 files": a count and its noun, plural but for one.
std::string counted(std::int64_t count, const std::string& noun);

// A command string's result read for that command, which dorvane_read_command names as the driver
// takes it: "1: the bench has a shuttle", and whether it tells of a failure (each command has its
// own way of saying so).
struct CommandOutcome {
  std::string meaning;
  bool failed;
};
CommandOutcome commandOutcome(const std::string& command, std::int32_t result);

}  // namespace dorvane::host
