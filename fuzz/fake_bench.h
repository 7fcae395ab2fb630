// The bench as a fuzz input plays it: a scripted serial peer on a virtual clock whose every byte,
// failed serial call and hang-up comes from the input, so the time-outs cost no real time.
//
// Input layout:
//   byte 0  the serial call that fails (0 none, 1 putByte, 2 putBlock, 3 readBlock; others none)
//   byte 1  how many of the driver's sends go out before that call fails
//   byte 2  the failing result (low nibble) and the system error reported with it (high nibble)
//   byte 3  how many of the driver's sends go out before the line hangs up (255: never)
//   then chunks of [length][delay in 100 ms][length bytes]: the first reaches the driver at once,
//   each later one in answer to the driver's next send, `delay` after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "link/com_port.h"
#include "runtime/log_file.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/virtual_clock.h"

namespace dorvane::fuzz {

inline constexpr std::size_t kFakeBenchPrefix = 4;

class FakeBench {
 public:
  explicit FakeBench(std::span<const std::uint8_t> input);
  FakeBench(const FakeBench&) = delete;
  FakeBench& operator=(const FakeBench&) = delete;

  testing::VirtualClock clock;
  testing::ScriptedPeer peer{clock};
  runtime::LogFile log{clock, [] { return std::string(); }};  // stays off: nothing is written
  link::LinkServices link{peer, clock, log};
  // Runs on the thread of each send of the driver, before the bench's next chunk is delivered.
  std::function<void(const testing::Bytes& sent)> onEachSend;

 private:
  void onSend(const testing::Bytes& sent);
  void deliverNextChunk();

  std::span<const std::uint8_t> chunks_;
  unsigned sends_ = 0;
  unsigned failAfter_ = 0;
  unsigned hangUpAfter_ = 0;
  std::string failingCall_;
  int failingResult_ = 0;
};

// Takes `count` bytes off the front of `input` as a big-endian number (0 when the input runs out).
std::uint32_t takeNumber(std::span<const std::uint8_t>& input, int count);

}  // namespace dorvane::fuzz
