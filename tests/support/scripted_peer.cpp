// The scripted serial peer on the virtual clock.
#include "tests/support/scripted_peer.h"

#include <algorithm>

namespace dorvane::testing {

void ScriptedPeer::deliver(const Bytes& bytes, std::uint32_t afterMs) {
  const Delivery delivery{clock_.ticks + afterMs, bytes};
  const auto at = std::upper_bound(pending_.begin(), pending_.end(), delivery.tick,
                                   [](std::uint32_t tick, const Delivery& d) { return tick < d.tick; });
  pending_.insert(at, delivery);
  arrive();
}

void ScriptedPeer::answer(const Bytes& bytes, std::uint32_t afterMs) {
  react([bytes, afterMs](ScriptedPeer& peer, const Bytes&) {
    if (!bytes.empty()) peer.deliver(bytes, afterMs);
  });
}

void ScriptedPeer::react(std::function<void(ScriptedPeer&, const Bytes&)> reaction) {
  reactions_.push_back(std::move(reaction));
}

Bytes ScriptedPeer::allSent() const {
  Bytes all;
  for (const Sent& s : sent) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
  return all;
}

std::optional<int> ScriptedPeer::failure(const std::string& call) {
  const auto found = std::find_if(failures_.begin(), failures_.end(),
                                  [&](const auto& failure) { return failure.first == call; });
  if (found == failures_.end()) return std::nullopt;
  const int result = found->second;
  failures_.erase(found);
  return result;
}

void ScriptedPeer::record(const Bytes& bytes) {
  sent.push_back({clock_.ticks, bytes});
  if (reactions_.empty()) return;
  auto reaction = std::move(reactions_.front());
  reactions_.pop_front();
  reaction(*this, bytes);
}

void ScriptedPeer::arrive() {
  while (!pending_.empty() && pending_.front().tick <= clock_.ticks) {
    queue_.insert(queue_.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
    pending_.erase(pending_.begin());
  }
}

int ScriptedPeer::reset(int port, int first, int second) {
  calls.push_back("reset(" + std::to_string(port) + "," + std::to_string(first) + "," + std::to_string(second) + ")");
  return failure("reset").value_or(0);
}

int ScriptedPeer::lineParameters(int port, int parity, int stopBits, int dataBits) {
  calls.push_back("lineParameters(" + std::to_string(port) + "," + std::to_string(parity) + "," +
                  std::to_string(stopBits) + "," + std::to_string(dataBits) + ")");
  return failure("lineParameters").value_or(0);
}

int ScriptedPeer::baud(int port, int rate) {
  calls.push_back("baud(" + std::to_string(port) + "," + std::to_string(rate) + ")");
  return failure("baud").value_or(0);
}

int ScriptedPeer::flow(int port, int mode) {
  calls.push_back("flow(" + std::to_string(port) + "," + std::to_string(mode) + ")");
  return failure("flow").value_or(0);
}

int ScriptedPeer::timeouts(int port, std::int32_t readInterval, std::int32_t readMultiplier,
                           std::int32_t readConstant, std::int32_t writeMultiplier, std::int32_t writeConstant) {
  calls.push_back("timeouts(" + std::to_string(port) + "," + std::to_string(readInterval) + "," +
                  std::to_string(readMultiplier) + "," + std::to_string(readConstant) + "," +
                  std::to_string(writeMultiplier) + "," + std::to_string(writeConstant) + ")");
  return failure("timeouts").value_or(0);
}

int ScriptedPeer::receiveCount(int) {
  arrive();
  return static_cast<int>(queue_.size());
}

int ScriptedPeer::getByte(int) {
  arrive();
  if (queue_.empty()) return platform::kSerialNoData;
  const std::uint8_t byte = queue_.front();
  queue_.pop_front();
  return byte;
}

int ScriptedPeer::readBlock(int, std::uint8_t* buffer, int count) {
  arrive();
  if (const auto result = failure("readBlock")) return *result;
  const int n = std::min(count, static_cast<int>(queue_.size()));
  std::copy_n(queue_.begin(), n, buffer);
  queue_.erase(queue_.begin(), queue_.begin() + n);
  return n;
}

int ScriptedPeer::putByte(int, std::uint8_t byte) {
  if (const auto result = failure("putByte")) return *result;
  record({byte});
  return 1;
}

int ScriptedPeer::putBlock(int, const std::uint8_t* buffer, int count) {
  if (const auto result = failure("putBlock")) return *result;
  record(Bytes(buffer, buffer + count));
  return count;
}

int ScriptedPeer::clearReceiveQueue(int) {
  arrive();
  clears.emplace_back(clock_.ticks, queue_.size());
  queue_.clear();
  return 0;
}

int ScriptedPeer::portStatus(int, int) { return 0; }

int ScriptedPeer::close(int port) {
  calls.push_back("close(" + std::to_string(port) + ")");
  return 0;
}

platform::InputWait ScriptedPeer::waitForInput(int, int count, std::uint32_t timeoutMs) {
  arrive();
  if (queue_.size() >= static_cast<std::size_t>(count)) return platform::InputWait::ready;
  if (hungUp) return platform::InputWait::hungUp;
  const std::uint32_t end = clock_.ticks + timeoutMs;
  if (!pending_.empty() && pending_.front().tick <= end) {
    clock_.ticks = std::max(clock_.ticks, pending_.front().tick);
    arrive();
    return platform::InputWait::ready;
  }
  clock_.ticks = end;
  return platform::InputWait::timedOut;
}

}  // namespace dorvane::testing
