// How the host gives up: one line for the user and an exit status. Thrown inside the program only;
// main turns it into the line on stderr.
#pragma once

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

}  // namespace dorvane::host
