// What both serial layers keep alike: the receive queue they drain the device into, its size, and
// the one line format they offer. No operating-system calls here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/serial_port.h"

namespace dorvane::platform {

// A data packet may announce 65,535 payload bytes plus a 2-byte checksum, and the link waits for
// the whole of it at once, so the queue holds that much (and a little more) whatever reset asks.
constexpr std::size_t kMinReceiveCapacity = 65544;

inline bool isBenchFormat(int parity, int stopBits, int dataBits) {
  return parity == kBenchParity && stopBits == kBenchStopBits && dataBits == kBenchDataBits;
}

// Bytes received but not yet read, in arrival order.
class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity) : bytes_(capacity) {}

  std::size_t size() const { return size_; }
  bool full() const { return size_ == bytes_.size(); }
  // The longest stretch of free space that follows the newest byte.
  std::uint8_t* freeStart() { return bytes_.data() + (head_ + size_) % bytes_.size(); }
  std::size_t freeContiguous() const {
    const std::size_t tail = (head_ + size_) % bytes_.size();
    return full() ? 0 : (tail >= head_ ? bytes_.size() - tail : head_ - tail);
  }
  void commit(std::size_t count) { size_ += count; }

  std::size_t take(std::uint8_t* out, std::size_t count) {
    count = std::min(count, size_);
    const std::size_t first = std::min(count, bytes_.size() - head_);
    std::memcpy(out, bytes_.data() + head_, first);
    std::memcpy(out + first, bytes_.data(), count - first);
    head_ = (head_ + count) % bytes_.size();
    size_ -= count;
    return count;
  }
  void clear() { head_ = size_ = 0; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace dorvane::platform
