// spectrometer_open, spectrometer_initialize and spectrometer_close against the virtual bench,
// and the parameter exports.
#include <cmath>
#include <cstdlib>

#include "bench/requests.h"
#include "driver/scan_thread.h"
#include "platform/serial_port.h"
#include "tests/driver/driver_fixture.h"

namespace dorvane::testing {
namespace {

using Open = DriverOnBench;

TEST_F(Open, ReadsTheSetupIdentifiesTheBenchAndBecomesIdle) {
  startBench({.identity = {9, 61}});
  loadSettings();
  EXPECT_EQ(driver->open(3), 0);
  auto& state = driver->state();
  EXPECT_EQ(state.status.load(), 4);
  EXPECT_EQ(state.bench, 9);
  EXPECT_EQ(state.benchModel, 61);
  ASSERT_NE(state.scanThread, nullptr);
  EXPECT_FALSE(portIsOpen());
  EXPECT_TRUE(logHasInOrder({"dorvane.dll spectrometer_open(id = 3) port= 49; baud= 38400",
                             "ComPort opening port 49; baud 38400", "ComPort valid = 1",
                             "dorvane.dll.spectrometer_open: requesting setup info", "bench = 9, 61",
                             "ComPort closing port 49"}));

  // A second open reads the bench again and installs a fresh acquisition object.
  const auto* first = state.scanThread.get();
  EXPECT_EQ(driver->open(4), 0);
  EXPECT_NE(state.scanThread.get(), first);
  EXPECT_EQ(state.status.load(), 4);
  EXPECT_EQ(countLogLines("bench = 9, 61"), 2u);
}

TEST_F(Open, WithoutAPortRefusesAfterTwoLinesAndTouchesNothing) {
  startBench();
  loadSettings("port=0\n");
  const std::size_t before = logLines().size();
  EXPECT_EQ(driver->open(1), -1);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), before + 2);
  EXPECT_EQ(lines[before], "dorvane.dll spectrometer_open(id = 1) port= -1; baud= 38400");
  EXPECT_EQ(lines[before + 1], "dorvane.dll.spectrometer_open: port is not set");
  EXPECT_EQ(driver->getStatus(), 0);
  EXPECT_EQ(driver->state().scanThread, nullptr);
}

TEST_F(Open, APortThatDoesNotOpenGivesTheSerialCodeUnchanged) {
  setenv("DORVANE_COM50", "/nonexistent/tty", 1);
  loadSettings();
  const std::int32_t code = driver->open(0);
  EXPECT_EQ(code, platform::kSerialBadPort);  // the same -1 as an unset port, but after trying
  EXPECT_EQ(driver->initialize(), code);
  EXPECT_EQ(driver->getStatus(), 0);
  EXPECT_TRUE(logHasInOrder({"ComPort opening port 49; baud 38400", "ComPort valid = 0", "ComPort closing port 49"}));
}

TEST_F(Open, ASilentBenchFailsTheSetupReadAndLeavesTheStateAlone) {
  loadSettings();  // the pty is there, but nothing answers on it
  const std::int32_t result = driver->open(0);
  EXPECT_TRUE(result == -2 || result == -3) << result;
  EXPECT_EQ(driver->getStatus(), 0);
  EXPECT_EQ(driver->state().scanThread, nullptr);
  EXPECT_FALSE(portIsOpen());
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.spectrometer_open: requesting setup failed " +
                             std::to_string(driver->state().benchError)}));
}

TEST_F(Open, InitialiseRereadsTheSetupOnlyForTheLog) {
  startBench();
  loadSettings("iris=700\n");
  ASSERT_EQ(driver->open(0), 0);
  ASSERT_EQ(driver->initialize(), 0);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.spectrometer_initialize", "dorvane.dll.callInit", "dorvane.dll txSetup",
                             "sending TRANSMIT STATUS", "sending TRANSMIT SETUP", "Bench Setup:",
                             "ComPort closing port 49"}));
  // iris x 100 keeps its low 16 bits; the ZPD search is asked for.
  EXPECT_EQ(driver->state().scanSettings.get(bench::field::iris), 4464u);
  EXPECT_EQ(driver->state().scanSettings.get(bench::field::primaryZpd), 1u);
  EXPECT_EQ(instrument->setupField(bench::field::sampScans), 16u);

  // With the log off the dump's read is not sent at all.
  driver->log().disable();
  const auto requestsBefore = instrument->link().stats().requestsReceived;
  ASSERT_EQ(driver->initialize(), 0);
  const auto requests = instrument->link().stats().requestsReceived - requestsBefore;
  driver->log().enable();
  EXPECT_GE(requests, 2u);  // the put and at least one status request
  EXPECT_EQ(countLogLines("sending TRANSMIT SETUP"), 2u) << "only the open's and the first initialise's";
}

TEST_F(Open, CloseReleasesTheObjectAndAlwaysReturnsOne) {
  startBench();
  loadSettings();
  EXPECT_EQ(driver->close(), 1);  // nothing opened yet
  ASSERT_EQ(driver->open(0), 0);
  EXPECT_EQ(driver->close(), 1);
  EXPECT_EQ(driver->state().scanThread, nullptr);
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_FALSE(portIsOpen());
  EXPECT_EQ(countLogLines("dorvane.dll close"), 2u);
}

using Parameters = DriverOnBench;

TEST_F(Parameters, StartWithTheBuiltInValues) {
  EXPECT_EQ(driver->getGain(), 0.0);
  EXPECT_EQ(driver->getResolution(), 1.0);
  EXPECT_EQ(driver->getScans(), 16);
  EXPECT_EQ(driver->getFiles(), 1);
  EXPECT_EQ(driver->getPoints(), 0);
  EXPECT_EQ(driver->getTimestamp(), 0.0);
  EXPECT_EQ(driver->getCapabilities(), 0);
  EXPECT_EQ(driver->getStatus(), 0);
}

TEST_F(Parameters, SettersStoreWhatTheyReturnAndLogIt) {
  loadSettings();
  EXPECT_EQ(driver->setGain(3.99), 3.0);
  EXPECT_EQ(driver->setGain(-1.5), -1.0);
  EXPECT_EQ(driver->getGain(), -1.0);
  EXPECT_EQ(driver->setResolution(0.5), 0.5);
  EXPECT_EQ(driver->getResolution(), 0.5);
  EXPECT_EQ(driver->setPoints(4096), 4096);
  EXPECT_EQ(driver->getPoints(), 0) << "the length of the newest co-add, not the setting";
  EXPECT_EQ(driver->state().points, 4096);
  EXPECT_EQ(driver->setScans(-3), -3);
  EXPECT_EQ(driver->setFiles(0), 0);
  EXPECT_EQ(driver->getScans(), -3);
  EXPECT_EQ(driver->getFiles(), 0);
  EXPECT_EQ(driver->setScanCompleteEventHandle(1234), 0);
  EXPECT_EQ(driver->getCapabilities(), 0);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll setGain 3.990000", "dorvane.dll setGain -1.500000",
                             "dorvane.dll setResolution 0.500000", "dorvane.dll setPoints 4096",
                             "dorvane.dll setScans -3", "dorvane.dll setFiles 0",
                             "dorvane.dll setScanCompleteEventHandle 1234", "dorvane.dll getCapabilities"}));
}

// A gain beyond 32 bits, or not a number, has no integer code: it is held at the nearest end of
// the range (NaN gives 0) instead of converting with undefined behaviour.
TEST_F(Parameters, GainOutsideTheIntegerRangeIsHeldAtItsEnds) {
  EXPECT_EQ(driver->setGain(1e12), 2147483647.0);
  EXPECT_EQ(driver->setGain(-1e12), -2147483648.0);
  EXPECT_EQ(driver->setGain(std::nan("")), 0.0);
  EXPECT_EQ(driver->setGain(INFINITY), 2147483647.0);
}

}  // namespace
}  // namespace dorvane::testing
