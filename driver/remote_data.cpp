// getRemoteDataList, getRemoteData and getSetup: the blocks in the bench's memory and its setup
// as text.
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "bench/requests.h"
#include "bench/retrieval.h"
#include "driver/driver.h"

namespace dorvane::driver {
namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "Www Mmm DD hh:mm:ss:cc", and a list line adds "\r\n".
constexpr std::size_t kBlockTimeLength = 22;
// Room for a one-line message in the host's text; every text export's buffer holds more.
constexpr std::size_t kMessageRoom = 64;
// What getRemoteData returns for a failed retrieval that left no code in the error word, so the
// failure never reads as success.
constexpr std::int32_t kRetrievalFailed = 1;

template <std::size_t N>
const char* nameAt(const char* const (&names)[N], int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? names[index] : "???";
}

void writeMessage(char* text, const char* format, std::int32_t code) {
  std::snprintf(text, kMessageRoom, format, static_cast<int>(code));
}

// Opens the port for an export that answers in text, unless an acquisition holds it; a refusal
// or a failed open is written into the text. 0 when the port is open.
std::int32_t openForText(link::LinkServices& link, const DriverState& s, bool refused, char* text,
                         std::optional<link::ComPort>& port) {
  if (refused) {
    writeMessage(text, "error %d: an acquisition holds the serial port", kErrorPortBusy);
    return kErrorPortBusy;
  }
  port.emplace(link, s.port, s.baud);
  if (!port->valid()) writeMessage(text, "serial comm. error %d ", port->openResult());
  return port->openResult();
}

// The blocks the status listed: up to the first stamp 0.
std::size_t listedBlocks(const bench::StatusTables& tables) {
  std::size_t count = 0;
  while (count < tables.stamps.size() && tables.stamps[count] != 0) ++count;
  return count;
}

// The moment the current local year began, in seconds since the epoch: a block's stamp counts
// hundredths of a second from it.
std::int64_t startOfYear(platform::Clock& clock) {
  const std::int64_t now = clock.wallTime().seconds;
  const platform::CalendarTime local = clock.localCalendar(now);
  return now - std::int64_t{local.yearDay} * 86400 - std::int64_t{local.hour} * 3600 -
         std::int64_t{local.minute} * 60 - local.second;
}

// Writes the block's time, exactly kBlockTimeLength characters, at `out` (no terminator).
void writeBlockTime(platform::Clock& clock, std::int64_t yearStart, std::uint32_t stamp, char* out) {
  const platform::CalendarTime t = clock.localCalendar(yearStart + stamp / 100);
  // Calendar fields out of their ranges would only lengthen the text, which is then cut.
  char line[128];
  std::snprintf(line, sizeof line, "%s %s %02d %02d:%02d:%02d:%02u", nameAt(kWeekdays, t.weekday),
                nameAt(kMonths, t.month - 1), t.day, t.hour, t.minute, t.second, static_cast<unsigned>(stamp % 100));
  std::memcpy(out, line, kBlockTimeLength);
}

}  // namespace

std::int32_t Driver::getRemoteDataList(char* text) {
  if (text == nullptr) return kErrorNullPointer;
  text[0] = '\0';
  std::optional<link::ComPort> port;
  const std::int32_t opened = openForText(link_, state_, refusedWhileAcquiring("getRemoteDataList"), text, port);
  if (opened != 0) return opened;

  // The list is the call's own: the acquisition's record of blocks is left as it was.
  bench::StatusTables tables;
  std::uint16_t statusWord = 0;
  std::uint16_t srqFlag = 0;
  if (bench::transmitStatus(link_, state_.port, statusWord, srqFlag, tables, state_.benchError) != 1) {
    writeMessage(text, "error %d getting setup", state_.benchError);
    return 1;
  }
  const std::int64_t yearStart = startOfYear(clock_);
  const std::size_t blocks = listedBlocks(tables);
  char* line = text;
  for (std::size_t i = 0; i < blocks; ++i) {
    writeBlockTime(clock_, yearStart, tables.stamps[i], line);
    line[kBlockTimeLength] = '\r';
    line[kBlockTimeLength + 1] = '\n';
    line += kBlockTimeLength + 2;
  }
  *line = '\0';
  return 0;
}

// `values` has no length: the host sizes it by the block's points, which the list does not tell,
// so it must allow for the most a block of its settings holds.
std::int32_t Driver::getRemoteData(std::int32_t index, double* values, std::int32_t* count) {
  if (values == nullptr || count == nullptr) return kErrorNullPointer;
  *count = 0;  // until points are copied
  if (refusedWhileAcquiring("getRemoteData")) return kErrorPortBusy;
  link::ComPort port(link_, state_.port, state_.baud);
  if (!port.valid()) return port.openResult();

  DriverState& s = state_;
  const auto failed = [&s] { return s.benchError != 0 ? s.benchError : kRetrievalFailed; };
  bench::StatusTables tables;
  std::uint16_t statusWord = 0;
  std::uint16_t srqFlag = 0;
  if (bench::transmitStatus(link_, s.port, statusWord, srqFlag, tables, s.benchError) != 1) return failed();
  if (bench::transmitSetup(link_, s.port, s.benchSetup, s.benchError) != 0) return failed();

  const std::size_t blocks = listedBlocks(tables);
  if (index < 0 || static_cast<std::size_t>(index) >= blocks) {
    log_.print("dorvane.dll getRemoteData: no block %d in the list of %d", index, static_cast<int>(blocks));
    return kErrorNoSuchBlock;
  }
  const std::uint32_t stamp = tables.stamps[static_cast<std::size_t>(index)];
  const std::uint16_t flags = tables.flags[static_cast<std::size_t>(index)];
  s.bench = bench::decodeBench(log_, s.benchSetup, s.benchModel);

  // A background block co-adds the setup's background scans; a setup without them, its sample scans.
  std::uint32_t scans =
      s.benchSetup.get((flags & bench::data_def::sample) != 0 ? bench::field::bkgScans : bench::field::sampScans);
  if (scans == 0) scans = s.benchSetup.get(bench::field::sampScans);
  s.scanSettings.set(bench::field::sampScans, scans);

  float* data = nullptr;
  std::int32_t points = 0;
  std::uint16_t srqCount = 0;
  const std::int32_t received =
      bench::rxSpectrum(link_, s.port, s.bench, stamp, data, points, s.benchSetup, srqCount, s.benchError);
  const std::unique_ptr<float[]> owned(data);
  if (received != 1 || !owned) return failed();
  // rxSpectrum hands over exactly `points` floats (at least 1, within its own bound).
  for (std::int32_t i = 0; i < points; ++i) values[i] = owned[static_cast<std::size_t>(i)];
  *count = points;
  return 0;
}

std::int32_t Driver::getSetup(char* text, std::int32_t) {
  if (text == nullptr) return kErrorNullPointer;
  std::optional<link::ComPort> port;
  const std::int32_t opened = openForText(link_, state_, refusedWhileAcquiring("getSetup"), text, port);
  if (opened != 0) return opened;
  const std::int32_t result = bench::transmitSetup(link_, state_.port, state_.benchSetup, state_.benchError);
  if (result == 0) {
    bench::dumpSetup(state_.benchSetup, text);
  } else {
    writeMessage(text, "error %d getting setup", state_.benchError);
  }
  return result;
}

}  // namespace dorvane::driver
