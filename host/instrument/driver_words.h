// The sentences the host prints for the driver's results.
#pragma once

#include <cstdint>
#include <string>

namespace dorvane::host {

// "spectrometer_open returned -1: no such serial port, or no port set in the settings". `meaning`
// replaces the driver's general phrase where the export gives the code a meaning of its own.
std::string callFailed(const char* exportName, std::int32_t result, const char* meaning = nullptr);

// A command string's result read for that command, which dorvane_read_command names as the driver
// takes it: "1: the bench has a shuttle", and whether it tells of a failure (each command has its
// own way of saying so).
struct CommandOutcome {
  std::string meaning;
  bool failed;
};
CommandOutcome commandOutcome(const std::string& command, std::int32_t result);

}  // namespace dorvane::host
