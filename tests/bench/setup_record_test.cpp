// The setup record: byte order between the wire and the host, the bench identity and the dump.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "bench/setup_record.h"
#include "link/byte_order.h"
#include "tests/link/link_fixture.h"

namespace dorvane::testing {
namespace {

using namespace bench;

using SetupRecordTest = LinkTest;

std::vector<std::string> textLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string dumpText(const BenchSetup& setup) {
  std::vector<char> text(kSetupTextSize, '\x7F');
  dumpSetup(setup, text.data());
  return std::string(text.data());
}

TEST_F(SetupRecordTest, WireFieldsBecomeHostOrderAndSingleBytesAndTheTailStay) {
  BenchSetup setup;
  for (std::size_t i = 0; i < kBenchSetupSize; ++i) setup.bytes[i] = static_cast<std::uint8_t>(i * 3 + 1);
  const BenchSetup wire = setup;
  EXPECT_EQ(setupToHost(setup), 1);

  for (unsigned offset : {0, 8, 14, 20, 24, 28, 42, 46, 50, 54, 66, 70, 74, 78, 82, 86, 90, 100}) {
    EXPECT_EQ(readField(setup.bytes.data(), {"", static_cast<std::uint8_t>(offset), 4}),
              link::getBE32(wire.bytes.data() + offset))
        << "32-bit field at " << offset;
  }
  for (unsigned offset : {4, 6, 12, 18, 40, 60, 62, 64, 94, 96, 98}) {
    EXPECT_EQ(readField(setup.bytes.data(), {"", static_cast<std::uint8_t>(offset), 2}),
              link::getBE16(wire.bytes.data() + offset))
        << "16-bit field at " << offset;
  }
  for (std::size_t offset : {32, 33, 34, 35, 36, 37, 38, 39, 58, 59}) {
    EXPECT_EQ(setup.bytes[offset], wire.bytes[offset]);
  }
  for (std::size_t offset = kSetupRecordSize; offset < kBenchSetupSize; ++offset) {
    EXPECT_EQ(setup.bytes[offset], wire.bytes[offset]) << "tail byte " << offset;
  }
  EXPECT_EQ(setup.get(field::sampScans), link::getBE16(wire.bytes.data() + 12));
  EXPECT_EQ(setup.get(field::adcVolts), wire.bytes[107]);
}

TEST_F(SetupRecordTest, ScanSettingsSwapPutsTheCommandFirstAndTwiceRestores) {
  ScanSettings settings;
  settings.setCommand(kPutSetupCommand);
  settings.set(field::primaryZpd, 1);
  settings.set(field::iris, 5000);
  settings.set(field::dataPoints, 0x00012345);
  settings.set(field::adcStatus, 0x53);
  const ScanSettings host = settings;

  EXPECT_EQ(swapScanSettings(settings), 1);
  EXPECT_EQ(settings.bytes[0], 0x82);
  EXPECT_EQ(settings.bytes[1], 0x80);
  EXPECT_EQ(link::getBE32(settings.bytes.data() + 26), 1u);  // primaryZpd
  EXPECT_EQ(link::getBE16(settings.bytes.data() + 42), 5000);  // iris
  EXPECT_EQ(link::getBE32(settings.bytes.data() + 22), 0x00012345u);  // dataPoints
  EXPECT_EQ(settings.bytes[34], 0x53);  // adcStatus

  swapScanSettings(settings);
  EXPECT_EQ(settings.bytes, host.bytes);
}

TEST_F(SetupRecordTest, BenchIdentityComesFromTheFirstTwoSerialBytes) {
  struct Case {
    std::uint8_t first, second;
    std::int32_t bench, model;
  };
  const Case cases[] = {
      {'A', 0x00, 9, 60}, {'B', 0xFF, 9, 61}, {'C', 0x12, 9, 62}, {'G', 0, 10, 61}, {'J', 0, 11, 1},
      {'X', 0, 13, 1},    {'Y', 0, 14, 1},    {'Z', 0xA1, 15, 1}, {'Z', 0xB5, 15, 1},  // bit 4 is ignored
      {'Z', 0xA9, 15, 1}, {'Z', 0xA2, 0, 1},  {'Z', 0xAB, 0, 1},  {'Z', 0x21, 0, 1},
      {'d', 0, 7, 32},    {'n', 0, 7, 32},    {'q', 0, 7, 32},    {'e', 0, 8, 51},   {'j', 0, 8, 51},
      {'r', 0, 8, 51},    {'f', 0, 8, 53},    {'k', 0, 8, 53},    {'s', 0, 8, 53},   {'l', 0, 8, 52},
      {'a', 0, 0, 0},     {'x', 0, 0, 0},     {0xC1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    BenchSetup setup;
    setup.set(field::serialNumber, (std::uint32_t{c.first} << 24) | (std::uint32_t{c.second} << 16) | 0x1234);
    std::int32_t model = -5;
    EXPECT_EQ(decodeBench(log, setup, model), c.bench) << c.first << " " << int{c.second};
    EXPECT_EQ(model, c.model) << c.first << " " << int{c.second};
  }
  // Both bytes print as signed chars widened to int.
  EXPECT_EQ(logCount("serial number bytes Z 0x5a 0xffffffb5"), 1);
  EXPECT_EQ(logCount("serial number bytes A 0x41 0x0"), 1);
  EXPECT_EQ(logCount("serial number bytes B 0x42 0xffffffff"), 1);
  EXPECT_EQ(static_cast<int>(logLines().size()), static_cast<int>(std::size(cases)));
}

TEST_F(SetupRecordTest, TextDumpSharesTheBannerLineAndPrintsWideFieldsSigned) {
  const std::string empty = dumpText(BenchSetup{});
  EXPECT_EQ(empty.size(), 1162u);
  EXPECT_EQ(empty.back(), '\n');
  auto lines = textLines(empty);
  ASSERT_EQ(lines.size(), 55u);
  EXPECT_EQ(lines[0], "Bench Setup:  specStat.reInit 0");
  EXPECT_EQ(lines[15], "  dataDef.dataForm 0");
  // The value lines run in the dump's own order, not the record's.
  std::vector<std::string> names;
  for (std::size_t i = 25; i < lines.size(); ++i) names.push_back(lines[i].substr(2, lines[i].find(' ', 2) - 2));
  EXPECT_THAT(names, ::testing::ElementsAre(
                         "scanTime", "processTime", "sampScans", "bkgScans", "primaryZpd", "secondaryZpd",
                         "adcStatus", "scanDirection", "forwardServoAnalog", "reverseServoAnalog", "forwardSpeed",
                         "reverseSpeed", "filterSelect", "laserSamp", "iris", "apodization", "adcVolts", "xSteps",
                         "ySteps", "dataPoints", "arrayStart", "arrayEnd", "dataStart", "dataEnd", "shortTurn",
                         "quickTurn", "zpdValue", "totalDataSpace", "numDataBlocks", "sizeDataBlock"));

  BenchSetup setup;
  setup.set(field::scanTime, 0xFFFFFFFF);
  setup.set(field::sampScans, 0xFFFF);
  setup.set(field::dataDef, 0x0083);   // dataForm 3, sample
  setup.set(field::specStat, 0x8010);  // busy, and bit 15, which is never printed
  setup.set(field::adcVolts, 10);
  lines = textLines(dumpText(setup));
  EXPECT_EQ(lines[4], "  specStat.busy 1");
  EXPECT_EQ(lines[15], "  dataDef.dataForm 3");
  EXPECT_EQ(lines[16], "  dataDef.sample 1");
  EXPECT_EQ(lines[25], "  scanTime -1 0xFFFFFFFF");
  EXPECT_EQ(lines[27], "  sampScans 65535 0xFFFF");
  EXPECT_EQ(lines[41], "  adcVolts 10 0xA");

  // Every bit and byte set: the longest text still fits the caller's buffer.
  BenchSetup full;
  full.bytes.fill(0xFF);
  const std::string longest = dumpText(full);
  EXPECT_LE(longest.size(), kSetupTextSize - 1);
  EXPECT_EQ(textLines(longest)[35], "  forwardSpeed 255 0xFF");
}

TEST_F(SetupRecordTest, LogDumpWritesTheBannerAndOneLinePerField) {
  BenchSetup setup;
  setup.set(field::dataEnd, 16447);
  dumpSetup(log, setup);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 56u);
  EXPECT_EQ(lines[0], "Bench Setup:");
  EXPECT_EQ(lines[1], "  specStat.reInit 0");
  EXPECT_EQ(lines[49], "  dataEnd 16447 0x403F");
  EXPECT_EQ(lines[55], "  sizeDataBlock 0 0x0");
}

}  // namespace
}  // namespace dorvane::testing
