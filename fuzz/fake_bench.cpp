// The fuzz input as the bench's side of the line.
#include "fuzz/fake_bench.h"

#include <array>

namespace dorvane::fuzz {
namespace {

// A send loop that outlives any real exchange is cut short by a hang-up, so one input never
// runs long even where the input's bytes keep it going.
constexpr unsigned kMostSends = 4096;

// What the serial layer returns when a call fails: its own codes, and for a block read a short count.
constexpr std::array<int, 8> kFailures = {0, platform::kSerialBadPort, platform::kSerialNotOpen, -2,
                                          platform::kSerialSystemError, platform::kSerialHardware, 0, -1};
// The system errors a failed call may leave behind: none, Windows' communication-error flags, others.
constexpr std::array<int, 16> kSystemErrors = {0, 1, 2, 4, 8, 16, 256, 32768, 5, 6, 13, 0, 0, 0, 0, 0};

}  // namespace

std::uint32_t takeNumber(std::span<const std::uint8_t>& input, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count && !input.empty(); ++i) {
    value = (value << 8) | input.front();
    input = input.subspan(1);
  }
  return value;
}

FakeBench::FakeBench(std::span<const std::uint8_t> input) {
  const std::uint32_t call = takeNumber(input, 1);
  failAfter_ = takeNumber(input, 1);
  const std::uint32_t failure = takeNumber(input, 1);
  hangUpAfter_ = input.empty() ? 255 : takeNumber(input, 1);
  chunks_ = input;

  static constexpr std::array<const char*, 4> kCalls = {"", "putByte", "putBlock", "readBlock"};
  failingCall_ = call < kCalls.size() ? kCalls[call] : "";
  failingResult_ = kFailures[failure & 0x7];
  peer.systemError = kSystemErrors[failure >> 4];
  if (!failingCall_.empty() && failAfter_ == 0) peer.fail(failingCall_, failingResult_);
  peer.hungUp = hangUpAfter_ == 0;

  deliverNextChunk();
  // Each send of the driver brings the next chunk; the reaction puts itself back for the send after.
  peer.react([this](testing::ScriptedPeer&, const testing::Bytes& sent) { onSend(sent); });
}

void FakeBench::onSend(const testing::Bytes& sent) {
  if (onEachSend) onEachSend(sent);
  ++sends_;
  if (!failingCall_.empty() && sends_ == failAfter_) peer.fail(failingCall_, failingResult_);
  if (sends_ >= kMostSends || (hangUpAfter_ != 255 && sends_ >= hangUpAfter_)) peer.hungUp = true;
  if (!peer.hungUp) deliverNextChunk();
  peer.react([this](testing::ScriptedPeer&, const testing::Bytes& sent) { onSend(sent); });
}

void FakeBench::deliverNextChunk() {
  if (chunks_.empty()) return;
  const std::size_t length = takeNumber(chunks_, 1);
  const std::uint32_t delayMs = takeNumber(chunks_, 1) * 100;
  const std::size_t taken = std::min(length, chunks_.size());
  if (taken != 0) peer.deliver(testing::Bytes(chunks_.begin(), chunks_.begin() + static_cast<long>(taken)), delayMs);
  chunks_ = chunks_.subspan(taken);
}

}  // namespace dorvane::fuzz
