// The sentences the host prints for the driver's results.
#include <cctype>
#include <cstdio>
#include <sstream>

#include "dorvane.h"
#include "tools/host_failure.h"

namespace dorvane::host {
namespace {

std::string lowercase(std::string word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// A failure common to the commands that open the port: its code read as the driver's table reads it.
std::string portFailure(std::int32_t result) {
  return std::to_string(result) + ": the command failed (" + dorvane_error_text(result) + ")";
}

std::string accessoryName(const std::string& word) { return word == "iris" ? "an iris" : "a " + word; }

}  // namespace

std::string callFailed(const char* exportName, std::int32_t result, const char* meaning) {
  return std::string(exportName) + " returned " + std::to_string(result) + ": " +
         (meaning != nullptr ? meaning : dorvane_error_text(result));
}

std::string commandResultMeaning(const std::string& command, std::int32_t result) {
  std::istringstream words(command);
  std::string word;
  words >> word;
  word = lowercase(word);
  std::string argument;
  const bool hasArgument = static_cast<bool>(words >> argument);
  const std::string shown = std::to_string(result) + ": ";

  if (command.empty() || command[0] == '@') return shown + "the settings were loaded";
  if (result == DORVANE_ERROR_PORT_BUSY || (result < -1 && word != "movemotor")) return portFailure(result);
  if (word == "shuttle" || word == "mirror" || word == "iris") {
    if (!hasArgument) {
      if (result == 1) return shown + "the bench has " + accessoryName(word);
      if (result == 0) return shown + "the bench has no " + word;
      if (result == -1) return shown + "the bench could not be asked (or there is no such serial port)";
      return portFailure(result);
    }
    if (word == "iris") return shown + (result == 1 ? "the aperture is set (or the bench has no iris)" : "the aperture was not set");
    if (result == 1) return shown + "the " + word + " moved";
    if (result == -1) return shown + "the bench has no " + word;
    return shown + "the " + word + " did not move";
  }
  if (word == "movemotor") {
    std::string steps;
    const bool moving = hasArgument && static_cast<bool>(words >> steps);
    if (moving) return shown + (result == 0 ? "the motor did not move (or it reads position 0)" : "the motor's new position");
    if (result == -1) return shown + "the motor's position is not known";
    if (result < -1) return portFailure(result);
    return shown + "the motor's position";
  }
  if (word == "reset") return shown + (result == 1 ? "the bench was reset" : "the bench was not reset");
  if (word == "whoareyou") {
    if (result == 0) return shown + "no bench identified yet (spectrometer_open identifies it)";
    return shown + "bench family " + std::to_string(result >> 16) + " model " + std::to_string(result & 0xFFFF);
  }
  if (result < 0) return portFailure(result);
  return shown + "the command is not one the driver knows";
}

}  // namespace dorvane::host
