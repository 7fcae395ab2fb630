// spectrometer_open, spectrometer_initialize and spectrometer_close against the virtual bench.
#include "bench/requests.h"
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
  EXPECT_NE(state.scanThread, nullptr);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll spectrometer_open(id = 3) port= 49; baud= 38400",
                             "ComPort opening port 49; baud 38400", "ComPort valid = 1",
                             "dorvane.dll.spectrometer_open: requesting setup info", "bench = 9, 61",
                             "ComPort closing port 49"}));
}

}  // namespace
}  // namespace dorvane::testing
