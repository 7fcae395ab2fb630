// The sentences the host prints for the driver's results.
#include <cctype>
#include <cstdio>
#include <sstream>

#include "dorvane.h"
#include "tools/host_failure.h"

namespace dorvane::host {
namespace {

// A failure common to the commands that open the port: its code read as the driver's table reads it.
CommandOutcome portFailure(std::int32_t result) {
  return {std::to_string(result) + ": the command failed (" + dorvane_error_text(result) + ")", true};
}

std::string accessoryName(const std::string& word) { return word == "iris" ? "an iris" : "a " + word; }

}  // namespace

std::string callFailed(const char* exportName, std::int32_t result, const char* meaning) {
  return std::string(exportName) + " returned " + std::to_string(result) + ": " +
         (meaning != nullptr ? meaning : dorvane_error_text(result));
}

std::string commandWord(const std::string& command) {
  std::istringstream words(command);
  std::string word;
  words >> word;
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

CommandOutcome commandOutcome(const std::string& command, std::int32_t result) {
  const std::string word = commandWord(command);
  std::istringstream words(command);
  std::string argument;
  words >> argument;  // the command word itself
  const bool hasArgument = static_cast<bool>(words >> argument);
  const std::string shown = std::to_string(result) + ": ";
  const auto done = [&shown](const std::string& meaning) { return CommandOutcome{shown + meaning, false}; };
  const auto failed = [&shown](const std::string& meaning) { return CommandOutcome{shown + meaning, true}; };

  if (command.empty() || command[0] == '@') {
    return result == 0 ? done("the settings were loaded") : failed(dorvane_error_text(result));
  }
  if (result == DORVANE_ERROR_PORT_BUSY || (result < -1 && word != "movemotor")) return portFailure(result);
  if (word == "shuttle" || word == "mirror" || word == "iris") {
    if (!hasArgument) {
      if (result == 1) return done("the bench has " + accessoryName(word));
      if (result == 0) return done("the bench has no " + word);
      return failed("the bench could not be asked (or there is no such serial port)");
    }
    if (word == "iris") return result == 1 ? done("the aperture is set (or the bench has no iris)") : failed("the aperture was not set");
    if (result == 1) return done("the " + word + " moved");
    if (result == -1) return failed("the bench has no " + word);
    return failed("the " + word + " did not move");
  }
  if (word == "movemotor") {
    std::string steps;
    if (hasArgument && static_cast<bool>(words >> steps)) {
      return result == 0 ? failed("the motor did not move (or it stands at position 0)") : done("the motor's new position");
    }
    if (result == -1) return done("the motor's position is not known");
    if (result < -1) return done(std::string("the motor's position, or the serial layer's code for ") + dorvane_error_text(result));
    return done("the motor's position");
  }
  if (word == "reset") return result == 1 ? done("the bench was reset") : failed("the bench was not reset");
  if (word == "whoareyou") {
    if (result == 0) return failed("no bench identified yet (spectrometer_open identifies it)");
    return done("bench family " + std::to_string(result >> 16) + " model " + std::to_string(result & 0xFFFF));
  }
  if (result < 0) return portFailure(result);
  return failed("the command is not one the driver knows");
}

}  // namespace dorvane::host
