// spectrometer_execute: the host's text commands.
#include <cstdint>

#include "bench/accessories.h"
#include "dorvane_helpers.h"
#include "driver/driver.h"

namespace dorvane::driver {
namespace {

// What a command works on: the link, over the port the call holds open, and the driver's state.
struct Bench {
  link::LinkServices& link;
  DriverState& state;
};

// 1 when the accessory is fitted, 0 if not, -1 when the device request failed.
std::int32_t accessoryFitted(Bench& b, int device) {
  bench::DeviceWords words{};
  if (bench::getDevices(b.link, b.state.port, words, b.state.benchError) != 1) return -1;
  return (words[0] & (1u << device)) != 0 ? 1 : 0;
}

// Position 1 for any nonzero argument, 2 for 0.
std::uint16_t positionFor(std::int32_t argument) { return argument != 0 ? 1 : 2; }

// The word alone asks whether the accessory is fitted; with a number it moves, and whatever follows
// that number is ignored.
std::int32_t shuttle(Bench& b, const dorvane_command& c) {
  if (c.fields == 1) return accessoryFitted(b, bench::device::shuttle);
  return bench::moveShuttle(b.link, b.state.port, positionFor(c.first), b.state.statusTables, b.state.benchError);
}

std::int32_t iris(Bench& b, const dorvane_command& c) {
  if (c.fields == 1) return accessoryFitted(b, bench::device::iris);
  return bench::moveIris(b.link, b.state.port, static_cast<std::int16_t>(c.first), b.state.statusTables,
                         b.state.benchError);
}

std::int32_t mirror(Bench& b, const dorvane_command& c) {
  if (c.fields == 1) return accessoryFitted(b, bench::device::beamMirror);
  return bench::moveBeamMirror(b.link, b.state.port, positionFor(c.first), b.state.statusTables,
                               b.state.benchError);
}

std::int32_t reset(Bench& b) {
  return bench::resetBench(b.link, b.state.port, b.state.statusTables, b.state.benchError);
}

// "movemotor M S" moves motor M (0 the first, else the second) by S steps; any other form only
// reads motor M's position.
std::int32_t moveMotor(Bench& b, const dorvane_command& c) {
  runtime::LogFile& log = b.link.log;
  std::int32_t result = 0;
  if (c.fields == 3 && c.second != 0) {
    log.print("moving motor %d by %d", c.first, c.second);
    const int device = c.first != 0 ? bench::device::secondMotor : bench::device::firstMotor;
    result = bench::moveMotor(b.link, b.state.port, device, c.second, b.state.statusTables, b.state.benchError);
  } else {
    log.print("finding the motor positions");
    std::int32_t first = -1;
    std::int32_t second = -1;
    result = -1;
    if (bench::getMotorPositions(b.link, b.state.port, first, second, b.state.statusTables, b.state.benchError) ==
        1) {
      result = c.first != 0 ? second : first;
    }
  }
  log.print("dorvane.dll moveMotor returning %d", result);
  return result;
}

// The identity found at open; the bench is not asked.
std::int32_t whoAreYou(Bench& b) {
  const auto identity = static_cast<std::int32_t>((static_cast<std::uint32_t>(b.state.bench) << 16) |
                                                  static_cast<std::uint32_t>(b.state.benchModel));
  b.link.log.print("instrument= 0x%X", static_cast<unsigned>(identity));
  return identity;
}

}  // namespace

std::int32_t Driver::execute(const char* command) {
  if (command == nullptr) return 0;  // nothing to read: handled as an unrecognised command

  debugPrint("dorvane.dll.spectrometer_execute %s", command);
  log_.print("dorvane.dll.spectrometer_execute %s", command);
  // The host reads commands with the same function, so both take a string for the same command.
  const dorvane_command read = dorvane_read_command(command);
  if (read.kind == DORVANE_COMMAND_SETTINGS) return loadSettings(command + 1);

  if (refusedWhileAcquiring("spectrometer_execute")) return kErrorPortBusy;
  // Every other command holds the port for the call, recognised or not.
  link::ComPort port(link_, state_.port, state_.baud);
  if (!port.valid()) return port.openResult();

  Bench bench{link_, state_};
  switch (read.kind) {
    case DORVANE_COMMAND_SHUTTLE: return shuttle(bench, read);
    case DORVANE_COMMAND_IRIS: return iris(bench, read);
    case DORVANE_COMMAND_RESET: return reset(bench);
    case DORVANE_COMMAND_MOVEMOTOR: return moveMotor(bench, read);
    case DORVANE_COMMAND_MIRROR: return mirror(bench, read);
    case DORVANE_COMMAND_WHOAREYOU: return whoAreYou(bench);
    case DORVANE_COMMAND_UNKNOWN:
    case DORVANE_COMMAND_SETTINGS: break;
  }
  return 0;
}

}  // namespace dorvane::driver
