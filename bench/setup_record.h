// The bench's setup record: its field layout (one table that the byte-order conversion, the dump
// and the scan settings builder all read), its status and data-definition bits, the conversion
// between wire and host order, the bench identity and the setup dump.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dorvane.h"
#include "runtime/log_file.h"

namespace dorvane::bench {

// A field of the setup record: its offset from the record's first byte and its width in bytes.
struct SetupField {
  const char* name;  // the bench's own name; empty for the fields it leaves uninterpreted
  std::uint8_t offset;
  std::uint8_t size;  // 1, 2 or 4
};

namespace field {
inline constexpr SetupField serialNumber{"serialNumber", 0, 4};
inline constexpr SetupField specStat{"specStat", 4, 2};
inline constexpr SetupField dataDef{"dataDef", 6, 2};
inline constexpr SetupField processTime{"processTime", 8, 4};
inline constexpr SetupField sampScans{"sampScans", 12, 2};
inline constexpr SetupField scanTime{"scanTime", 14, 4};
inline constexpr SetupField bkgScans{"bkgScans", 18, 2};
inline constexpr SetupField dataPoints{"dataPoints", 20, 4};
inline constexpr SetupField primaryZpd{"primaryZpd", 24, 4};
inline constexpr SetupField secondaryZpd{"secondaryZpd", 28, 4};
inline constexpr SetupField adcStatus{"adcStatus", 32, 1};
inline constexpr SetupField scanDirection{"scanDirection", 33, 1};  // in a data header: the point size
inline constexpr SetupField forwardServoAnalog{"forwardServoAnalog", 34, 1};
inline constexpr SetupField forwardSpeed{"forwardSpeed", 35, 1};
inline constexpr SetupField reverseServoAnalog{"reverseServoAnalog", 36, 1};
inline constexpr SetupField reverseSpeed{"reverseSpeed", 37, 1};
inline constexpr SetupField filterSelect{"filterSelect", 38, 1};
inline constexpr SetupField laserSamp{"laserSamp", 39, 1};
inline constexpr SetupField iris{"iris", 40, 2};
inline constexpr SetupField xSteps{"xSteps", 42, 4};
inline constexpr SetupField ySteps{"ySteps", 46, 4};
inline constexpr SetupField requestedPoints{"requestedPoints", 50, 4};
inline constexpr SetupField pointsPow2{"pointsPow2", 54, 4};
inline constexpr SetupField apodization{"apodization", 58, 1};
inline constexpr SetupField unnamed59{"", 59, 1};
inline constexpr SetupField unnamed60{"", 60, 2};
inline constexpr SetupField unnamed62{"", 62, 2};
inline constexpr SetupField unnamed64{"", 64, 2};
inline constexpr SetupField arrayStart{"arrayStart", 66, 4};
inline constexpr SetupField arrayEnd{"arrayEnd", 70, 4};
inline constexpr SetupField dataStart{"dataStart", 74, 4};
inline constexpr SetupField dataEnd{"dataEnd", 78, 4};
inline constexpr SetupField shortTurn{"shortTurn", 82, 4};
inline constexpr SetupField quickTurn{"quickTurn", 86, 4};
inline constexpr SetupField totalDataSpace{"totalDataSpace", 90, 4};
inline constexpr SetupField numDataBlocks{"numDataBlocks", 94, 2};
inline constexpr SetupField sizeDataBlock{"sizeDataBlock", 96, 2};
inline constexpr SetupField unnamed98{"", 98, 2};
inline constexpr SetupField zpdValue{"zpdValue", 100, 4};
// In the tail, which is never converted: the converter's full-scale voltage, 5 or 10.
inline constexpr SetupField adcVolts{"adcVolts", 107, 1};
}  // namespace field

// Every multi-byte field of the record, named or not, in record order: the fields that change
// byte order between the wire and the host.
inline constexpr std::array<SetupField, 29> kMultiByteFields = {
    field::serialNumber, field::specStat,   field::dataDef,        field::processTime, field::sampScans,
    field::scanTime,     field::bkgScans,   field::dataPoints,     field::primaryZpd,  field::secondaryZpd,
    field::iris,         field::xSteps,     field::ySteps,         field::requestedPoints,
    field::pointsPow2,   field::unnamed60,  field::unnamed62,      field::unnamed64,   field::arrayStart,
    field::arrayEnd,     field::dataStart,  field::dataEnd,        field::shortTurn,   field::quickTurn,
    field::totalDataSpace, field::numDataBlocks, field::sizeDataBlock, field::unnamed98, field::zpdValue,
};

inline constexpr std::size_t kSetupRecordSize = 104;  // the record proper; a tail may follow
inline constexpr std::size_t kBenchSetupSize = 116;   // what the driver keeps of a setup reply
inline constexpr std::size_t kScanSettingsSize = 106;  // the PUT SETUP command word and the record
inline constexpr std::uint16_t kPutSetupCommand = 0x8280;

// The bits of specStat, the bench's status word.
namespace spec_stat {
inline constexpr std::uint16_t reInit = 1u << 0;
inline constexpr std::uint16_t newEvent = 1u << 1;
inline constexpr std::uint16_t badCommand = 1u << 2;
inline constexpr std::uint16_t commErr = 1u << 3;
inline constexpr std::uint16_t busy = 1u << 4;
inline constexpr std::uint16_t hardwareError = 1u << 5;
inline constexpr std::uint16_t newSrq = 1u << 6;
inline constexpr std::uint16_t dataStatusChange = 1u << 7;
inline constexpr std::uint16_t plotting = 1u << 8;
inline constexpr std::uint16_t coProcessor = 1u << 9;
inline constexpr std::uint16_t dmacPresent = 1u << 10;
inline constexpr std::uint16_t bearingStuck = 1u << 11;
inline constexpr std::uint16_t laserOff = 1u << 12;
inline constexpr std::uint16_t sourceOff = 1u << 13;
inline constexpr std::uint16_t standby = 1u << 14;
}  // namespace spec_stat

// The bits of dataDef, the data-definition word; a data block's flag word has the same layout.
namespace data_def {
inline constexpr std::uint16_t dataFormMask = 0x0003;
inline constexpr std::uint16_t failedScan = 1u << 5;     // a block's flag word: the block failed
inline constexpr std::uint16_t failedProcess = 1u << 6;  // a block's flag word: the block failed
inline constexpr std::uint16_t sample = 1u << 7;
inline constexpr std::uint16_t startScanSRQ = 1u << 8;
inline constexpr std::uint16_t endScanSRQ = 1u << 9;
inline constexpr std::uint16_t startProcessSRQ = 1u << 10;
inline constexpr std::uint16_t endProcessSRQ = 1u << 11;
inline constexpr std::uint16_t abortScanSRQ = 1u << 12;
inline constexpr std::uint16_t drt = 1u << 13;
inline constexpr std::uint16_t done = 1u << 14;
inline constexpr std::uint16_t forceMemRealloc = 1u << 15;
// What the driver asks for in its scan settings and its START SCAN.
inline constexpr std::uint16_t requested = startScanSRQ | abortScanSRQ | done | forceMemRealloc;  // 0xD100
}  // namespace data_def

// Reads and writes a field held in host order at `record`.
std::uint32_t readField(const std::uint8_t* record, SetupField field);
void writeField(std::uint8_t* record, SetupField field, std::uint32_t value);
// Converts, in place, every multi-byte field that lies wholly within the first `length` bytes
// between wire and host order (the conversion is its own inverse). A data header is 82 bytes.
void swapFields(std::uint8_t* record, std::size_t length);

// The setup record as the driver keeps it: 104 bytes of record and a 12-byte tail, the record in
// host order once it has arrived.
struct BenchSetup {
  std::array<std::uint8_t, kBenchSetupSize> bytes{};

  std::uint32_t get(SetupField f) const { return readField(bytes.data(), f); }
  void set(SetupField f, std::uint32_t value) { writeField(bytes.data(), f, value); }
};

// The scan settings: the PUT SETUP command word, then the record's first 104 bytes, so every field
// sits at its setup offset + 2.
struct ScanSettings {
  std::array<std::uint8_t, kScanSettingsSize> bytes{};

  std::uint32_t get(SetupField f) const { return readField(bytes.data() + 2, f); }
  void set(SetupField f, std::uint32_t value) { writeField(bytes.data() + 2, f, value); }
  std::uint16_t command() const;
  void setCommand(std::uint16_t command);
};

// The received record's multi-byte fields from wire to host order; the tail is left alone. 1.
std::int32_t setupToHost(BenchSetup& setup);
// Reverses the command word and every multi-byte field; applying it twice restores the record. 1.
std::int32_t swapScanSettings(ScanSettings& settings);

// The bench family from the first two bytes of the serial number as the bench sent them; writes
// the model code. Logs the two bytes.
std::int32_t decodeBench(runtime::LogFile& log, const BenchSetup& setup, std::int32_t& benchModel);

// The setup text: at most 1482 characters and the terminator, as getSetup promises its hosts.
inline constexpr std::size_t kSetupTextSize = DORVANE_SETUP_TEXT_SIZE;
// The dump as log lines: the banner, then one line per field.
void dumpSetup(runtime::LogFile& log, const BenchSetup& setup);
// The dump as text in `text` (kSetupTextSize bytes at least): the banner and the first field share
// the first line.
void dumpSetup(const BenchSetup& setup, char* text);

}  // namespace dorvane::bench
