// The sentences the host prints for the driver's results.
#include <string>

#include "dorvane_helpers.h"
#include "host/instrument/driver_words.h"

namespace dorvane::host {
namespace {

// A failure common to the commands that open the port: its code read as the driver's table reads it.
CommandOutcome portFailure(std::int32_t result) {
  return {std::to_string(result) + ": the command failed (" + dorvane_error_text(result) + ")", true};
}

// The accessory's word, and how the bench's having one reads.
std::string accessoryWord(dorvane_command_kind kind) {
  return kind == DORVANE_COMMAND_SHUTTLE ? "shuttle" : kind == DORVANE_COMMAND_IRIS ? "iris" : "mirror";
}
std::string accessoryName(dorvane_command_kind kind) {
  return kind == DORVANE_COMMAND_IRIS ? "an iris" : "a " + accessoryWord(kind);
}

}  // namespace

std::string callFailed(const char* exportName, std::int32_t result, const char* meaning) {
  return std::string(exportName) + " returned " + std::to_string(result) + ": " +
         (meaning != nullptr ? meaning : dorvane_error_text(result));
}

CommandOutcome commandOutcome(const std::string& command, std::int32_t result) {
  const dorvane_command read = dorvane_read_command(command.c_str());
  const std::string shown = std::to_string(result) + ": ";
  const auto done = [&shown](const std::string& meaning) { return CommandOutcome{shown + meaning, false}; };
  const auto failed = [&shown](const std::string& meaning) { return CommandOutcome{shown + meaning, true}; };

  if (read.kind == DORVANE_COMMAND_SETTINGS) {
    return result == 0 ? done("the settings were loaded") : failed(dorvane_error_text(result));
  }
  if (result == DORVANE_ERROR_PORT_BUSY || (result < -1 && read.kind != DORVANE_COMMAND_MOVEMOTOR)) {
    return portFailure(result);
  }
  switch (read.kind) {
    case DORVANE_COMMAND_SHUTTLE:
    case DORVANE_COMMAND_IRIS:
    case DORVANE_COMMAND_MIRROR: {
      const std::string word = accessoryWord(read.kind);
      if (read.fields == 1) {
        if (result == 1) return done("the bench has " + accessoryName(read.kind));
        if (result == 0) return done("the bench has no " + word);
        return failed("the bench could not be asked (or there is no such serial port)");
      }
      if (read.kind == DORVANE_COMMAND_IRIS) {
        return result == 1 ? done("the aperture is set (or the bench has no iris)") : failed("the aperture was not set");
      }
      if (result == 1) return done("the " + word + " moved");
      if (result == -1) return failed("the bench has no " + word);
      return failed("the " + word + " did not move");
    }
    case DORVANE_COMMAND_MOVEMOTOR:
      if (read.fields == 3 && read.second != 0) {
        return result == 0 ? failed("the motor did not move (or it stands at position 0)") : done("the motor's new position");
      }
      if (result == -1) return done("the motor's position is not known");
      if (result < -1) return done(std::string("the motor's position, or the serial layer's code for ") + dorvane_error_text(result));
      return done("the motor's position");
    case DORVANE_COMMAND_RESET:
      return result == 1 ? done("the bench was reset") : failed("the bench was not reset");
    case DORVANE_COMMAND_WHOAREYOU:
      if (result == 0) return failed("no bench identified yet (spectrometer_open identifies it)");
      return done("bench family " + std::to_string(result >> 16) + " model " + std::to_string(result & 0xFFFF));
    case DORVANE_COMMAND_UNKNOWN:
    case DORVANE_COMMAND_SETTINGS:
      break;
  }
  if (result < 0) return portFailure(result);
  return failed("the command is not one the driver knows");
}

}  // namespace dorvane::host
