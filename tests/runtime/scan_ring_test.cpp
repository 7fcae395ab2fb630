// The ring of two scan buffers between the acquisition thread and the host.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/scan_ring.h"
#include "tests/support/virtual_clock.h"

namespace dorvane::runtime {
namespace {

class ScanBuffers : public ::testing::Test {
 protected:
  testing::VirtualClock clock;
  ScanRing scan{clock};
};

TEST_F(ScanBuffers, AFreshRingHasNoReadyBufferAndNothingToCopy) {
  EXPECT_EQ(scan.readyScanBufferIndex.load(), -1);
  EXPECT_EQ(scan.nextScanBufferIndex.load(), 0);
  EXPECT_EQ(scan.scanBuffers[0].state, 1);
  EXPECT_EQ(scan.scanBuffers[1].state, 1);
  double host[4] = {};
  const CoaddCopy copy = scan.copyCoadd(0, host, 4);
  EXPECT_FALSE(copy.copied);
  EXPECT_EQ(copy.state, 1);
}

TEST_F(ScanBuffers, CoaddsAlternateBetweenTheTwoBuffers) {
  const float first[] = {1.0f}, second[] = {2.0f, 2.5f}, third[] = {3.0f};
  scan.publishCoadd(first, 1);
  EXPECT_EQ(scan.readyScanBufferIndex.load(), 0);
  EXPECT_EQ(scan.nextScanBufferIndex.load(), 1);
  scan.publishCoadd(second, 2);
  scan.publishCoadd(third, 1);
  EXPECT_EQ(scan.readyScanBufferIndex.load(), 0);
  EXPECT_EQ(scan.nextScanBufferIndex.load(), 1);
  EXPECT_EQ(scan.scanBuffers[0].state, 5);
  EXPECT_EQ(scan.scanBuffers[0].data[0], 3.0);
  EXPECT_EQ(scan.scanBuffers[1].state, 5);
  EXPECT_EQ(scan.scanBuffers[1].points, 2);
  EXPECT_EQ(scan.scanBuffers[1].data[1], 2.5);
}

TEST_F(ScanBuffers, ACoaddTooLargeForTheBufferIsNotStoredButStillMovesTheIndices) {
  const std::vector<float> values(kScanBufferCapacity, 1.5f);
  scan.publishCoadd(values.data(), kScanBufferCapacity - 1);
  EXPECT_EQ(scan.scanBuffers[0].points, kScanBufferCapacity - 1);
  EXPECT_EQ(scan.scanBuffers[0].data[kScanBufferCapacity - 2], 1.5);

  scan.publishCoadd(values.data(), kScanBufferCapacity);
  EXPECT_EQ(scan.readyScanBufferIndex.load(), 1);
  EXPECT_EQ(scan.nextScanBufferIndex.load(), 0);
  std::vector<double> host(kScanBufferCapacity);
  const CoaddCopy copy = scan.copyCoadd(1, host.data(), kScanBufferCapacity);
  EXPECT_FALSE(copy.copied);
  EXPECT_EQ(copy.state, 1);
  EXPECT_EQ(copy.points, 0);

  scan.publishCoadd(values.data(), -1);
  EXPECT_EQ(scan.readyScanBufferIndex.load(), 0);
  EXPECT_EQ(scan.scanBuffers[0].points, kScanBufferCapacity - 1);  // the earlier co-add stays
}

TEST_F(ScanBuffers, CopyNeedsRoomForEveryPointAndWritesNothingPastThem) {
  const float values[] = {0.1f, -3.4028235e38f, 1.17549435e-38f};
  scan.scanTimestamp = 1.7e12 + 0.25;
  scan.publishCoadd(values, 3);
  constexpr double kGuard = -12345.0;

  double host[4] = {kGuard, kGuard, kGuard, kGuard};
  CoaddCopy copy = scan.copyCoadd(0, host, 2);
  EXPECT_FALSE(copy.copied);
  EXPECT_EQ(copy.state, 5);
  EXPECT_EQ(copy.points, 3);
  EXPECT_EQ(host[0], kGuard);

  copy = scan.copyCoadd(0, host, 3);
  ASSERT_TRUE(copy.copied);
  EXPECT_EQ(copy.timestamp, 1.7e12 + 0.25);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host[i], static_cast<double>(values[i])) << i;
  EXPECT_EQ(host[3], kGuard);
}

}  // namespace
}  // namespace dorvane::runtime
