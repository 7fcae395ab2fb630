// The scan settings builder: the family tables, the point counts and the data blocks that fit.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "bench/scan_settings.h"

namespace dorvane::bench {
namespace {

ScanSettings build(const ScanRequest& request, const BenchSetup& benchSetup = {}) {
  ScanSettings settings;
  settings.bytes.fill(0xEE);  // the builder clears what it does not set
  loadScanSettings(request, settings, benchSetup);
  return settings;
}

ScanRequest family(std::int32_t bench, std::int32_t model = 1) {
  ScanRequest request;
  request.bench = bench;
  request.benchModel = model;
  return request;
}

BenchSetup memory(std::uint32_t sizeDataBlock, std::uint32_t totalDataSpace) {
  BenchSetup setup;
  setup.set(field::sizeDataBlock, sizeDataBlock);
  setup.set(field::totalDataSpace, totalDataSpace);
  return setup;
}

TEST(ScanSettingsTest, DefaultsOnAFamilyNineBench) {
  const ScanSettings s = build(family(9, 60));
  EXPECT_EQ(s.command(), kPutSetupCommand);
  EXPECT_EQ(s.get(field::dataDef), 0xD100u);
  EXPECT_EQ(s.get(field::requestedPoints), 16384u);
  EXPECT_EQ(s.get(field::dataPoints), 16448u);
  EXPECT_EQ(s.get(field::pointsPow2), 16384u);
  EXPECT_EQ(s.get(field::dataStart), 0u);
  EXPECT_EQ(s.get(field::dataEnd), 16447u);
  EXPECT_EQ(s.get(field::sampScans), 16u);
  EXPECT_EQ(s.get(field::adcStatus), 0x51u);
  EXPECT_EQ(s.get(field::forwardServoAnalog), 0u);
  EXPECT_EQ(s.get(field::forwardSpeed), 9u);
  EXPECT_EQ(s.get(field::reverseSpeed), 9u);
  EXPECT_EQ(s.get(field::filterSelect), 0xDAu);  // detector 26, automatic filter 0xC0
  EXPECT_EQ(s.get(field::laserSamp), 0xE4u);
  EXPECT_EQ(s.get(field::shortTurn), 1000u);
  EXPECT_EQ(s.get(field::quickTurn), 300u);
  for (const SetupField f : {field::serialNumber, field::specStat, field::scanTime, field::primaryZpd,
                             field::scanDirection, field::reverseServoAnalog, field::iris, field::unnamed59,
                             field::totalDataSpace, field::numDataBlocks, field::sizeDataBlock, field::zpdValue}) {
    EXPECT_EQ(s.get(f), 0u) << f.name << " at " << int{f.offset};
  }

  // Model 62 takes its detector code from the other table.
  EXPECT_EQ(build(family(9, 62)).get(field::filterSelect), 0xD6u);
}

TEST(ScanSettingsTest, EachFamilyHasItsOwnSpeedsFiltersAndCodes) {
  struct Case {
    std::int32_t bench, model, fvel, rvel, lpf, detector, gain, lasersamp;
    std::uint32_t forwardSpeed, reverseSpeed, filterSelect, servo, laserSamp;
  };
  const Case cases[] = {
      {13, 1, 7, 3, 0, 1, 0, 2, 7, 3, 0x7A, 0x00, 0xE4},       // automatic filter 0x60
      {14, 1, 12, 5, 0, 4, 1, 8, 12, 5, 0x8E, 0x40, 0xC2},     // automatic filter 0x80
      {14, 1, 12, 5, 2, 4, 1, 8, 12, 5, 0x4E, 0x40, 0xC2},
      {11, 1, 4, 2, 0, 1, 2, 4, 5, 3, 0x3A, 0x80, 0xE2},       // no automatic choice: lpf 0 is 0x20
      {11, 1, 4, 2, 1, 1, 2, 4, 5, 3, 0x5A, 0x80, 0xE2},
      {15, 1, 20, 17, 0, 1, 0, 1, 41, 41, 0x16, 0x00, 0xE8},   // speeds held at 16; table 1 detector
      {10, 61, 0, 16, 3, 0, 3, 1, 1, 41, 0xBC, 0xC0, 0xE8},
      {9, 60, 4, 4, 8, 2, 0, 3, 9, 9, 0x16, 0x00, 0xE4},
      // Settings beyond a table take its nearest end.
      {9, 60, 40, -2, 0, 7, 9, 2, 41, 1, 0x0E, 0xC0, 0xE4},
      {9, 60, 4, 4, 20, 7, 0, 2, 9, 9, 0x0E, 0x00, 0xE4},
      // Families without tables keep only the common fields.
      {7, 32, 4, 4, 0, 1, 2, 1, 0, 0, 0x00, 0x00, 0x00},
      {8, 51, 4, 4, 0, 1, 2, 1, 0, 0, 0x00, 0x00, 0x00},
      {0, 0, 4, 4, 0, 1, 2, 1, 0, 0, 0x00, 0x00, 0x00},
  };
  for (const Case& c : cases) {
    ScanRequest r = family(c.bench, c.model);
    r.fvel = c.fvel;
    r.rvel = c.rvel;
    r.lpf = c.lpf;
    r.detector = c.detector;
    r.gain = c.gain;
    r.lasersamp = c.lasersamp;
    r.symmetry = 0x102;  // only the low byte counts
    const ScanSettings s = build(r);
    SCOPED_TRACE(::testing::Message() << "family " << c.bench << " fvel " << c.fvel << " lpf " << c.lpf);
    EXPECT_EQ(s.get(field::forwardSpeed), c.forwardSpeed);
    EXPECT_EQ(s.get(field::reverseSpeed), c.reverseSpeed);
    EXPECT_EQ(s.get(field::filterSelect), c.filterSelect);
    EXPECT_EQ(s.get(field::forwardServoAnalog), c.servo);
    EXPECT_EQ(s.get(field::laserSamp), c.laserSamp);
    EXPECT_EQ(s.get(field::adcStatus), 0x53u);
    EXPECT_EQ(s.get(field::dataPoints), 16448u);
    EXPECT_EQ(s.get(field::shortTurn), 1000u);
  }
}

TEST(ScanSettingsTest, DataBlocksFitStrictlyBelowTheBenchMemory) {
  const ScanRequest r = family(9, 60);
  // 16448 points: a block is 256 + 4 x 16448 = 66048 bytes.
  EXPECT_EQ(build(r, memory(256, 400000)).get(field::numDataBlocks), 6u);
  EXPECT_EQ(build(r, memory(256, 1000000)).get(field::numDataBlocks), 10u);
  EXPECT_EQ(build(r, memory(256, 6 * 66048)).get(field::numDataBlocks), 5u);
  EXPECT_EQ(build(r, memory(256, 66048)).get(field::numDataBlocks), 0u);
  EXPECT_EQ(build(r, memory(256, 66049)).get(field::numDataBlocks), 1u);
  EXPECT_EQ(build(r, memory(0, 1000000)).get(field::numDataBlocks), 0u);
  EXPECT_EQ(build(r, memory(256, 0)).get(field::numDataBlocks), 0u);
  const ScanSettings s = build(r, memory(256, 400000));
  EXPECT_EQ(s.get(field::sizeDataBlock), 0u);
  EXPECT_EQ(s.get(field::totalDataSpace), 0u);

  // 1025 points round up to 2048, which then sizes the blocks: 256 + 4 x 2048 = 8448 bytes.
  ScanRequest odd = r;
  odd.points = 1025;
  const ScanSettings small = build(odd, memory(256, 3 * 8448 + 1));
  EXPECT_EQ(small.get(field::pointsPow2), 2048u);
  EXPECT_EQ(small.get(field::dataPoints), 1089u);
  EXPECT_EQ(small.get(field::dataEnd), 1088u);
  EXPECT_EQ(small.get(field::numDataBlocks), 3u);

  for (const auto& [points, pow2] :
       std::initializer_list<std::pair<int, unsigned>>{{1, 1}, {0, 1}, {2, 2}, {3, 4}, {65536, 65536}}) {
    odd.points = points;
    EXPECT_EQ(build(odd).get(field::pointsPow2), pow2) << points;
  }
}

}  // namespace
}  // namespace dorvane::bench
