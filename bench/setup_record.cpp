// The setup record's byte order, the bench identity and the setup dump.
#include "bench/setup_record.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "link/byte_order.h"

namespace dorvane::bench {
namespace {

// Reverses one field's bytes where the host keeps numbers least significant byte first; a
// big-endian host keeps the wire's order.
void swapField(std::uint8_t* record, SetupField f) {
  if constexpr (std::endian::native == std::endian::little) std::reverse(record + f.offset, record + f.offset + f.size);
}

// The dump's lines, in order: 15 status bits, the data form and 9 data-definition bits, 30 values.
struct BitLine {
  const char* format;
  std::uint16_t mask;
};

constexpr BitLine kSpecStatLines[] = {
    {"  specStat.reInit %d", spec_stat::reInit},
    {"  specStat.newEvent %d", spec_stat::newEvent},
    {"  specStat.badCommand %d", spec_stat::badCommand},
    {"  specStat.commErr %d", spec_stat::commErr},
    {"  specStat.busy %d", spec_stat::busy},
    {"  specStat.hardwareError %d", spec_stat::hardwareError},
    {"  specStat.newSrq %d", spec_stat::newSrq},
    {"  specStat.dataStatusChange %d", spec_stat::dataStatusChange},
    {"  specStat.plotting %d", spec_stat::plotting},
    {"  specStat.coProcessor %d", spec_stat::coProcessor},
    {"  specStat.dmacPresent %d", spec_stat::dmacPresent},
    {"  specStat.bearingStuck %d", spec_stat::bearingStuck},
    {"  specStat.laserOff %d", spec_stat::laserOff},
    {"  specStat.sourceOff %d", spec_stat::sourceOff},
    {"  specStat.standby %d", spec_stat::standby},
};

constexpr BitLine kDataDefLines[] = {
    {"  dataDef.sample %d", data_def::sample},
    {"  dataDef.startScanSRQ %d", data_def::startScanSRQ},
    {"  dataDef.endScanSRQ %d", data_def::endScanSRQ},
    {"  dataDef.startProcessSRQ %d", data_def::startProcessSRQ},
    {"  dataDef.endProcessSRQ %d", data_def::endProcessSRQ},
    {"  dataDef.abortScanSRQ %d", data_def::abortScanSRQ},
    {"  dataDef.drt %d", data_def::drt},
    {"  dataDef.done %d", data_def::done},
    {"  dataDef.forceMemRealloc %d", data_def::forceMemRealloc},
};

// The value lines, in the dump's own order (not the record's).
constexpr SetupField kDumpedValues[] = {
    field::scanTime,       field::processTime,        field::sampScans,    field::bkgScans,
    field::primaryZpd,     field::secondaryZpd,       field::adcStatus,    field::scanDirection,
    field::forwardServoAnalog, field::reverseServoAnalog, field::forwardSpeed, field::reverseSpeed,
    field::filterSelect,   field::laserSamp,          field::iris,         field::apodization,
    field::adcVolts,       field::xSteps,             field::ySteps,       field::dataPoints,
    field::arrayStart,     field::arrayEnd,           field::dataStart,    field::dataEnd,
    field::shortTurn,      field::quickTurn,          field::zpdValue,     field::totalDataSpace,
    field::numDataBlocks,  field::sizeDataBlock,
};

constexpr std::size_t kLineScratch = 64;

// Formats each of the dump's 55 lines in turn and hands it to `emit`.
template <typename Emit>
void forEachDumpLine(const BenchSetup& setup, Emit emit) {
  char line[kLineScratch];
  const std::uint16_t specStat = static_cast<std::uint16_t>(setup.get(field::specStat));
  const std::uint16_t dataDef = static_cast<std::uint16_t>(setup.get(field::dataDef));
  for (const BitLine& bit : kSpecStatLines) {
    std::snprintf(line, sizeof line, bit.format, (specStat & bit.mask) != 0 ? 1 : 0);
    emit(line);
  }
  std::snprintf(line, sizeof line, "  dataDef.dataForm %d", dataDef & data_def::dataFormMask);
  emit(line);
  for (const BitLine& bit : kDataDefLines) {
    std::snprintf(line, sizeof line, bit.format, (dataDef & bit.mask) != 0 ? 1 : 0);
    emit(line);
  }
  for (const SetupField& f : kDumpedValues) {
    const std::uint32_t value = setup.get(f);
    // 32-bit fields print signed; narrower ones are unsigned and fit an int as they are.
    const int shown = f.size == 4 ? static_cast<std::int32_t>(value) : static_cast<int>(value);
    std::snprintf(line, sizeof line, "  %s %d 0x%X", f.name, shown, static_cast<unsigned>(value));
    emit(line);
  }
}

}  // namespace

std::uint32_t readField(const std::uint8_t* record, SetupField f) {
  const std::uint8_t* at = record + f.offset;
  if (f.size == 1) return *at;
  if (f.size == 2) {
    std::uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void writeField(std::uint8_t* record, SetupField f, std::uint32_t value) {
  std::uint8_t* at = record + f.offset;
  if (f.size == 1) {
    *at = static_cast<std::uint8_t>(value);
  } else if (f.size == 2) {
    const auto narrow = static_cast<std::uint16_t>(value);
    std::memcpy(at, &narrow, sizeof narrow);
  } else {
    std::memcpy(at, &value, sizeof value);
  }
}

void swapFields(std::uint8_t* record, std::size_t length) {
  for (const SetupField& f : kMultiByteFields) {
    if (std::size_t{f.offset} + f.size <= length) swapField(record, f);
  }
}

std::uint16_t ScanSettings::command() const {
  std::uint16_t value;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

void ScanSettings::setCommand(std::uint16_t command) { std::memcpy(bytes.data(), &command, sizeof command); }

std::int32_t setupToHost(BenchSetup& setup) {
  swapFields(setup.bytes.data(), kSetupRecordSize);
  return 1;
}

std::int32_t swapScanSettings(ScanSettings& settings) {
  swapField(settings.bytes.data(), SetupField{"command", 0, 2});
  swapFields(settings.bytes.data() + 2, kSetupRecordSize);
  return 1;
}

std::int32_t decodeBench(runtime::LogFile& log, const BenchSetup& setup, std::int32_t& benchModel) {
  const std::uint32_t serial = setup.get(field::serialNumber);
  const auto first = static_cast<char>(serial >> 24);
  const auto second = static_cast<std::uint8_t>(serial >> 16);
  // Both bytes widen as signed chars, so 0x80 and above print as ffffff80 and so on.
  log.print("serial number bytes %c 0x%x 0x%x", first, static_cast<unsigned>(static_cast<signed char>(first)),
            static_cast<unsigned>(static_cast<signed char>(second)));

  std::int32_t bench = 0;
  benchModel = 0;
  switch (first) {
    case 'A': bench = 9; benchModel = 60; break;
    case 'B': bench = 9; benchModel = 61; break;
    case 'C': bench = 9; benchModel = 62; break;
    case 'G': bench = 10; benchModel = 61; break;
    case 'J': bench = 11; benchModel = 1; break;
    case 'X': bench = 13; benchModel = 1; break;
    case 'Y': bench = 14; benchModel = 1; break;
    case 'Z': {
      // Family 15 shows as 0xA1, 0xA3, 0xA5, 0xA7 or 0xA9 once bit 4 is cleared.
      const std::uint8_t code = second & 0xEF;
      bench = (code == 0xA1 || code == 0xA3 || code == 0xA5 || code == 0xA7 || code == 0xA9) ? 15 : 0;
      benchModel = 1;
      break;
    }
    case 'd': case 'n': case 'q': bench = 7; benchModel = 32; break;
    case 'e': case 'j': case 'r': bench = 8; benchModel = 51; break;
    case 'f': case 'k': case 's': bench = 8; benchModel = 53; break;
    case 'l': bench = 8; benchModel = 52; break;
    default: break;
  }
  return bench;
}

void dumpSetup(runtime::LogFile& log, const BenchSetup& setup) {
  log.print("Bench Setup:");
  forEachDumpLine(setup, [&log](const char* line) { log.print("%s", line); });
}

void dumpSetup(const BenchSetup& setup, char* text) {
  // The banner has no line end of its own, so the first field shares its line.
  std::size_t length = 0;
  const auto append = [&](const char* piece) {
    const std::size_t size = std::strlen(piece);
    std::memcpy(text + length, piece, size);
    length += size;
  };
  append("Bench Setup:");
  forEachDumpLine(setup, [&](const char* line) {
    append(line);
    append("\n");
  });
  text[length] = '\0';
}

}  // namespace dorvane::bench
