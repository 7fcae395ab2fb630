// Co-added acquisitions through the driver against the virtual bench: the start handshake, the
// file loop, the host's event, the data and its time stamps, stopping.
#include <chrono>

#include "bench/requests.h"
#include "tests/driver/driver_fixture.h"

namespace dorvane::testing {
namespace {

using Acquisition = DriverOnBench;

TEST_F(Acquisition, ThreeFilesSignalTheEventOncePerFileWithTheBenchsData) {
  startBench({.dataPoints = 4096});
  loadSettings("points=4096\n");
  ASSERT_EQ(driver->open(0), 0);
  ASSERT_EQ(driver->initialize(), 0);
  HostEvent event;
  driver->setCoaddCompleteEventHandle(event.handle());
  driver->setScans(4);
  driver->setFiles(3);
  ASSERT_EQ(driver->startCoadd(), 0);
  std::uint64_t signals = 0;
  for (int i = 0; i < 3; ++i) signals += event.wait(10000);
  EXPECT_EQ(signals, 3u);
  for (int i = 0; i < 100 && driver->getStatus() != 4; ++i) platform::systemClock().sleep(20);
  EXPECT_EQ(driver->getStatus(), 4);
  EXPECT_EQ(driver->getFileProgress(), 3);
  EXPECT_EQ(driver->getScanProgress(), 4);
  std::vector<double> values(driver->getPoints());
  double stamp = 0;
  ASSERT_EQ(driver->getData(values.data(), static_cast<std::int32_t>(values.size()), &stamp), 0);
  EXPECT_GT(values.size(), 4000u);
}

}  // namespace
}  // namespace dorvane::testing
