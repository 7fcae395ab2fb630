// dorvane exec: a command string run, and its result explained.
#include <iostream>
#include <string>

#include "dorvane_helpers.h"
#include "host/instrument/driver_words.h"
#include "host/instrument/session.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"

namespace dorvane::host::cli {
namespace {

// Prints the result with its meaning; false when the result tells of a failure.
bool executeCommand(const std::string& iniPath, const std::string& command) {
  const CheckedSettings settings = loadSettings(iniPath);
  std::int32_t result = 0;
  if (dorvane_read_command(command.c_str()).kind == DORVANE_COMMAND_WHOAREYOU) {
    // The identity is the one found when the bench was opened.
    OpenBench bench(settings);
    result = spectrometer_execute(command.c_str());
  } else {
    result = spectrometer_execute(command.c_str());
  }
  // These come only from the opening of the port, whatever the command: a failure to name.
  if (result == DORVANE_ERROR_PORT_IN_USE || result == DORVANE_ERROR_PORT_DENIED || result == DORVANE_ERROR_NOT_A_SERIAL_PORT) {
    throw HostFailure(callFailed("spectrometer_execute", result, openFailure(result, settings).c_str()));
  }
  const CommandOutcome outcome = commandOutcome(command, result);
  std::cout << outcome.meaning << "\n";
  return !outcome.failed;
}

}  // namespace

const char* const kCommandResults =
    "Commands (words compare without regard to case; a word only has to begin the command, except reset and\n"
    "whoAreYou; what follows the number is ignored) and what their results mean:\n"
    "  shuttle           1: the bench has a shuttle; 0: it has none; -1: the bench could not be asked\n"
    "  shuttle N         move the shuttle to position 1 (N not 0) or 2 (N 0); 1: moved, -1: no shuttle, 0: failed\n"
    "  iris              1: the bench has an iris; 0: it has none; -1: the bench could not be asked\n"
    "  iris N            set the aperture to N; 1: set (or no iris fitted), 0: failed\n"
    "  mirror            1: the bench has a beam mirror; 0: it has none; -1: the bench could not be asked\n"
    "  mirror N          move the mirror to position 1 (N not 0) or 2 (N 0); 1: moved, -1: no mirror, 0: failed\n"
    "  movemotor M S     move motor 2 (M not 0) or 1 (M 0) by S steps; its new position, 0: failed\n"
    "  movemotor M       the position of motor 2 (M not 0) or 1; -1: not known\n"
    "  reset             reset the bench (it forgets its stored blocks); 1: done\n"
    "  whoAreYou         the bench found at the last opening: family << 16 | model; 0: none yet\n"
    "  @FILE             load the settings file FILE; 0\n"
    "A negative result of any but movemotor is the serial layer's code: the line says what it means.";

int runExec(ExecArguments& arguments) { return executeCommand(arguments.iniPath, arguments.command) ? afterBenchCalls(0) : kExitFailure; }


}  // namespace dorvane::host::cli
