// getRemoteDataList, getRemoteData and getSetup against the virtual bench: the list of blocks and
// its time text, a block's points in volts, the setup text, and the ways each call fails.
#include <time.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/setup_record.h"
#include "platform/serial_port.h"
#include "tests/driver/driver_fixture.h"

namespace dorvane::testing {
namespace {

constexpr std::size_t kListTextSize = 6145;
constexpr std::size_t kPoints = 1024 + 64;  // what the bench scans for a points setting of 1024
constexpr double kUntouched = 12345.0;

class RemoteData : public DriverOnBench {
 protected:
  // Starts an acquisition of `files` files (0: until stopped) of one scan of kPoints each.
  void startAcquisition(std::int32_t files, sim::ScanTrouble trouble = sim::ScanTrouble::None) {
    startBench();
    loadSettings();
    driver->setPoints(1024);
    ASSERT_EQ(driver->open(0), 0);
    ASSERT_EQ(driver->initialize(), 0);
    instrument->troubleNextScan(trouble);
    driver->setScans(1);
    driver->setFiles(files);
    ASSERT_EQ(driver->startCoadd(), 0);
  }

  // All three exports return `code`; the two that answer in text say `why`; no point is copied.
  void expectEachRefused(std::int32_t code, const char* why) {
    std::vector<char> text(kListTextSize, 'x');
    EXPECT_EQ(driver->getRemoteDataList(text.data()), code);
    EXPECT_STREQ(text.data(), why);
    text.assign(text.size(), 'x');
    EXPECT_EQ(driver->getSetup(text.data(), 0), code);
    EXPECT_STREQ(text.data(), why);
    double value = kUntouched;
    std::int32_t count = -7;
    EXPECT_EQ(driver->getRemoteData(0, &value, &count), code);
    EXPECT_EQ(value, kUntouched);
  }
};

// The list line of a stamp: hundredths of a second from the start of the local year (now less
// the local calendar's day of the year and time of day), formatted by the C library.
std::string listLine(std::uint32_t stamp) {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const time_t yearStart = now - local.tm_yday * 86400 - local.tm_hour * 3600 - local.tm_min * 60 - local.tm_sec;
  const time_t at = yearStart + static_cast<time_t>(stamp / 100);
  tm moment{};
  localtime_r(&at, &moment);
  char text[64];
  const std::size_t length = strftime(text, sizeof text, "%a %b %d %H:%M:%S", &moment);
  std::snprintf(text + length, sizeof text - length, ":%02u\r\n", stamp % 100);
  return text;
}

TEST_F(RemoteData, TheBlocksOfAnAcquisitionAreListedByTimeAndComeBackInVolts) {
  startAcquisition(2);
  ASSERT_TRUE(waitUntilIdle());
  const std::vector<sim::BlockInfo> blocks = instrument->blocks();
  ASSERT_EQ(blocks.size(), 2u);

  std::vector<char> text(kListTextSize, 'x');
  ASSERT_EQ(driver->getRemoteDataList(text.data()), 0);
  EXPECT_EQ(std::string(text.data()), listLine(blocks[0].stamp) + listLine(blocks[1].stamp));

  for (std::int32_t index = 0; index < 2; ++index) {
    const std::vector<double> volts = benchVolts(blocks[static_cast<std::size_t>(index)].stamp);
    ASSERT_EQ(volts.size(), kPoints);
    std::vector<double> values(kPoints + 1, kUntouched);
    std::int32_t count = -7;
    ASSERT_EQ(driver->getRemoteData(index, values.data(), &count), 0);
    ASSERT_EQ(count, static_cast<std::int32_t>(kPoints));
    for (std::size_t k = 0; k < kPoints; ++k) {
      ASSERT_NEAR(values[k], volts[k], 1e-4) << "block " << index << " point " << k;
    }
    EXPECT_EQ(values.back(), kUntouched);
  }

  double value = kUntouched;
  for (const std::int32_t index : {-1, 2}) {
    const std::uint64_t before = instrument->link().stats().requestsReceived;
    std::int32_t count = -7;
    EXPECT_EQ(driver->getRemoteData(index, &value, &count), kErrorNoSuchBlock);
    EXPECT_EQ(instrument->link().stats().requestsReceived - before, 2u) << "status and setup only";
    EXPECT_EQ(count, 0);
  }
  EXPECT_TRUE(logHasInOrder({"dorvane.dll getRemoteData: no block -1 in the list of 2", "ComPort closing port 49"}));
  EXPECT_FALSE(portIsOpen());
}

TEST_F(RemoteData, ABlockWithoutDataFailsWithANonzeroCodeAndNoPoints) {
  startAcquisition(1, sim::ScanTrouble::NeverFinishes);
  ASSERT_EQ(driver->stop(), 0);
  ASSERT_EQ(instrument->blocks().size(), 1u);
  double value = kUntouched;
  std::int32_t count = -7;
  EXPECT_NE(driver->getRemoteData(0, &value, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(value, kUntouched);
  EXPECT_FALSE(portIsOpen());
}

TEST_F(RemoteData, AnEmptyBenchListsNothingAndGivesItsSetupAsText) {
  startBench();
  loadSettings();
  std::vector<char> text(kListTextSize, 'x');
  EXPECT_EQ(driver->getRemoteDataList(text.data()), 0);
  EXPECT_STREQ(text.data(), "");
  double value = kUntouched;
  std::int32_t count = -7;
  EXPECT_EQ(driver->getRemoteData(0, &value, &count), kErrorNoSuchBlock);

  ASSERT_EQ(driver->getSetup(text.data(), 99), 0);
  const std::string setup(text.data());
  EXPECT_EQ(setup.rfind("Bench Setup:  ", 0), 0u) << setup;
  EXPECT_NE(setup.find("\n  dataPoints 16448 0x4040\n"), std::string::npos) << setup;
  EXPECT_EQ(driver->state().bench, 0);  // the identity is decoded at open only

  instrument->link().faults().add(sim::Fault::abortReply());
  EXPECT_EQ(driver->getRemoteDataList(text.data()), 1);
  EXPECT_STREQ(text.data(), "error -18 getting setup");
  EXPECT_FALSE(portIsOpen());
}

TEST_F(RemoteData, NullPointersAnUnopenedPortAndARunningAcquisitionAreRefused) {
  startBench();  // no settings yet: the port is not set
  expectEachRefused(platform::kSerialBadPort, "serial comm. error -1 ");
  loadSettings();
  double value = kUntouched;
  std::int32_t count = -7;
  EXPECT_EQ(driver->getRemoteDataList(nullptr), kErrorNullPointer);
  EXPECT_EQ(driver->getSetup(nullptr, 0), kErrorNullPointer);
  EXPECT_EQ(driver->getRemoteData(0, nullptr, &count), kErrorNullPointer);
  EXPECT_EQ(driver->getRemoteData(0, &value, nullptr), kErrorNullPointer);
  EXPECT_EQ(count, -7);

  ASSERT_EQ(driver->open(0), 0);
  driver->setFiles(0);
  ASSERT_EQ(driver->startCoadd(), 0);
  expectEachRefused(kErrorPortBusy, "error -31: an acquisition holds the serial port");
  EXPECT_EQ(driver->stop(), 0);
  EXPECT_EQ(countLogLines("ComPort opening port 49; baud 38400"), 1u);  // the open's only
  EXPECT_EQ(countLogLines("dorvane.dll getRemoteData: refused, an acquisition holds the serial port"), 1u);
}

}  // namespace
}  // namespace dorvane::testing
