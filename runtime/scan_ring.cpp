// The ring of scan buffers.
#include "runtime/scan_ring.h"

#include <algorithm>

namespace dorvane::runtime {

void ScanRing::publishCoadd(const float* values, std::int32_t count) {
  const std::int32_t index = nextScanBufferIndex.load();
  if (count >= 0 && count < kScanBufferCapacity) {
    ScanBuffer& buffer = scanBuffers[static_cast<std::size_t>(index)];
    platform::ScopedLock guard(buffer.lock);
    buffer.timestamp = scanTimestamp;
    buffer.points = count;
    std::copy(values, values + count, buffer.data.get());
    buffer.state |= kScanBufferReady;
  }
  readyScanBufferIndex.store(index);
  nextScanBufferIndex.store((index + 1) % 2);
}

CoaddCopy ScanRing::copyCoadd(std::int32_t index, double* buffer, std::int32_t pts) {
  ScanBuffer& source = scanBuffers[static_cast<std::size_t>(index)];
  CoaddCopy result;
  platform::ScopedLock guard(source.lock);
  result.state = source.state;
  result.points = source.points;
  if ((source.state & kScanBufferReady) != 0 && source.points <= pts) {
    std::copy(source.data.get(), source.data.get() + source.points, buffer);
    result.timestamp = source.timestamp;
    result.copied = true;
  }
  return result;
}

double ScanRing::readyTimestamp() {
  const std::int32_t index = readyScanBufferIndex.load();
  if (index == -1) return 0.0;
  ScanBuffer& buffer = scanBuffers[static_cast<std::size_t>(index)];
  platform::ScopedLock guard(buffer.lock);
  return buffer.timestamp;
}

std::int32_t ScanRing::readyPoints() {
  const std::int32_t index = readyScanBufferIndex.load();
  if (index == -1) return 0;
  ScanBuffer& buffer = scanBuffers[static_cast<std::size_t>(index)];
  platform::ScopedLock guard(buffer.lock);
  return buffer.points;
}

}  // namespace dorvane::runtime
