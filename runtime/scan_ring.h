// The ring of scan buffers: finished co-adds pass from the acquisition thread to the host through
// two locked buffers, each stamped by the ring's clock. The acquisition owns one ring for its life.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/mutex.h"
#include "runtime/timestamp_clock.h"

namespace dorvane::runtime {

// Values a scan buffer holds; a co-add of this many values or more is not stored.
inline constexpr std::int32_t kScanBufferCapacity = 65536;
inline constexpr std::uint16_t kScanBufferReady = 4;  // state bit: filled at least once

struct ScanBuffer {
  ScanBuffer() : data(std::make_unique<double[]>(kScanBufferCapacity)) {}

  std::uint16_t state = 1;  // 1 never filled, 5 filled
  std::int32_t points = 0;
  double timestamp = 0.0;  // milliseconds since the epoch
  std::unique_ptr<double[]> data;
  // Held for the writer's whole fill and for a reader's test and copy.
  platform::Mutex lock;
};

// What a reader found in the ready buffer.
struct CoaddCopy {
  bool copied = false;  // false: the buffer was never filled, or `pts` was too short
  std::uint16_t state = 0;
  std::int32_t points = 0;
  double timestamp = 0.0;
};

class ScanRing {
 public:
  explicit ScanRing(platform::Clock& clock) : clock(clock) {}

  // The writer's step: stores `count` values (when 0 <= count < capacity) into the next buffer,
  // then publishes it as the ready one and moves on to the other. A count out of range stores
  // nothing but still moves the indices.
  void publishCoadd(const float* values, std::int32_t count);

  // The reader's step: under the buffer's lock, copies the buffer at `index` into `buffer` when it
  // was filled and its points fit in `pts`.
  CoaddCopy copyCoadd(std::int32_t index, double* buffer, std::int32_t pts);
  // The ready buffer's time stamp and length; 0 while no co-add is ready. Read under the buffer's
  // lock, so a fill that comes round to this buffer meanwhile is never seen half-written.
  double readyTimestamp();
  std::int32_t readyPoints();

  // The time at which the bench was first seen to have finished the current file's co-add.
  double scanTimestamp = 0.0;
  TimestampClock clock;
  std::array<ScanBuffer, 2> scanBuffers;
  // Written by the acquisition thread only, read by the host without a lock.
  std::atomic<std::int32_t> nextScanBufferIndex{0};
  std::atomic<std::int32_t> readyScanBufferIndex{-1};
};

}  // namespace dorvane::runtime
