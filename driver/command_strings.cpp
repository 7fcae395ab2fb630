// spectrometer_execute: the host's text commands.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "bench/accessories.h"
#include "driver/driver.h"

namespace dorvane::driver {
namespace {

// The command's leading word and up to two integers after it, read as the format "%s %d %d"
// reads them: the scan stops at the first field it cannot read, and the number of fields read
// picks the command's form. Integers not read stay 0.
struct ScannedCommand {
  int fields = 0;
  std::int32_t first = 0;
  std::int32_t second = 0;
};

// The longest leading word a command may have; a longer one makes the command unrecognised,
// whatever follows it.
constexpr std::size_t kLongestWord = 63;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

const char* skipBlanks(const char* at) {
  while (isBlank(*at)) ++at;
  return at;
}

// A decimal integer with an optional sign after optional blanks, as "%d" reads it; one beyond the
// 32-bit range reads as the nearest end of it. False, with `at` unmoved, when there is none.
bool readInteger(const char*& at, std::int32_t& value) {
  const char* p = skipBlanks(at);
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!isDigit(*p)) return false;
  constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; isDigit(*p); ++p) magnitude = std::min(magnitude * 10 + (*p - '0'), kBeyond);
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  value = static_cast<std::int32_t>(std::clamp<std::int64_t>(signedValue, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
  at = p;
  return true;
}

// False when the leading word is longer than kLongestWord.
bool scanCommand(const char* command, ScannedCommand& out) {
  out = ScannedCommand{};
  const char* at = skipBlanks(command);
  const char* wordEnd = at;
  while (*wordEnd != '\0' && !isBlank(*wordEnd)) ++wordEnd;
  if (static_cast<std::size_t>(wordEnd - at) > kLongestWord) return false;
  if (wordEnd == at) return true;  // no word: no field read
  at = wordEnd;
  out.fields = 1;
  if (!readInteger(at, out.first)) return true;
  out.fields = 2;
  if (readInteger(at, out.second)) out.fields = 3;
  return true;
}

// The words compare without regard to case; a prefix word lets anything follow it.
enum class Match { Prefix, Whole };

bool matches(const char* command, const char* word, Match match) {
  for (; *word != '\0'; ++command, ++word) {
    if (lower(*command) != lower(*word)) return false;  // also ends a command shorter than the word
  }
  return match == Match::Prefix || *command == '\0';
}

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

std::int32_t shuttle(Bench& b, const ScannedCommand& c) {
  if (c.fields == 1) return accessoryFitted(b, bench::device::shuttle);
  if (c.fields != 2) return 0;
  return bench::moveShuttle(b.link, b.state.port, positionFor(c.first), b.state.statusTables, b.state.benchError);
}

std::int32_t iris(Bench& b, const ScannedCommand& c) {
  if (c.fields == 1) return accessoryFitted(b, bench::device::iris);
  if (c.fields != 2) return 0;
  return bench::moveIris(b.link, b.state.port, static_cast<std::int16_t>(c.first), b.state.statusTables,
                         b.state.benchError);
}

std::int32_t mirror(Bench& b, const ScannedCommand& c) {
  if (c.fields == 1) return accessoryFitted(b, bench::device::beamMirror);
  if (c.fields != 2) return 0;
  return bench::moveBeamMirror(b.link, b.state.port, positionFor(c.first), b.state.statusTables,
                               b.state.benchError);
}

std::int32_t reset(Bench& b, const ScannedCommand&) {
  return bench::resetBench(b.link, b.state.port, b.state.statusTables, b.state.benchError);
}

// "movemotor M S" moves motor M (0 the first, else the second) by S steps; any other form only
// reads motor M's position.
std::int32_t moveMotor(Bench& b, const ScannedCommand& c) {
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
std::int32_t whoAreYou(Bench& b, const ScannedCommand&) {
  const auto identity = static_cast<std::int32_t>((static_cast<std::uint32_t>(b.state.bench) << 16) |
                                                  static_cast<std::uint32_t>(b.state.benchModel));
  b.link.log.print("instrument= 0x%X", static_cast<unsigned>(identity));
  return identity;
}

struct BenchCommand {
  const char* word;
  Match match;
  std::int32_t (*run)(Bench&, const ScannedCommand&);
};

// Looked up in this order; the first that matches runs.
constexpr BenchCommand kBenchCommands[] = {
    {"shuttle", Match::Prefix, shuttle},     {"iris", Match::Prefix, iris},   {"reset", Match::Whole, reset},
    {"movemotor", Match::Prefix, moveMotor}, {"mirror", Match::Prefix, mirror}, {"whoAreYou", Match::Whole, whoAreYou},
};

}  // namespace

std::int32_t Driver::execute(const char* command) {
  if (command == nullptr) return 0;  // nothing to read: handled as an unrecognised command

  debugPrint("dorvane.dll.spectrometer_execute %s", command);
  log_.print("dorvane.dll.spectrometer_execute %s", command);
  if (command[0] == '@') return loadSettings(command + 1);

  if (refusedWhileAcquiring("spectrometer_execute")) return kErrorPortBusy;
  // Every other command holds the port for the call, recognised or not.
  link::ComPort port(link_, state_.port, state_.baud);
  if (!port.valid()) return port.openResult();

  ScannedCommand scanned;
  if (!scanCommand(command, scanned)) return 0;
  for (const BenchCommand& entry : kBenchCommands) {
    if (!matches(command, entry.word, entry.match)) continue;
    Bench bench{link_, state_};
    return entry.run(bench, scanned);
  }
  return 0;
}

}  // namespace dorvane::driver
