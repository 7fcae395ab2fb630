// The scripted bench of the request tests.
#include "tests/bench/bench_fixture.h"

#include <algorithm>

#include "bench/retrieval.h"
#include "link/byte_order.h"

namespace dorvane::testing {

std::uint16_t BenchRequest::command() const { return message.size() >= 2 ? link::getBE16(message.data()) : 0; }

BenchReply BenchTest::replyOf(const Bytes& data, std::size_t payloadSize) {
  return {messagePackets(join({0xA5, 0x5A}, data), payloadSize), {}};
}

BenchReply BenchTest::statusReply(std::uint16_t specStat, const std::vector<Block>& blocks) {
  Bytes data;
  appendBE(data, specStat, 2);
  appendBE(data, 0x01020304, 4);
  for (const Block& block : blocks) {
    appendBE(data, block.flags, 2);
    appendBE(data, block.stamp, 4);
  }
  return replyOf(data);
}

Bytes BenchTest::header(std::int32_t dataStart, std::int32_t dataEnd, std::uint16_t scans, std::uint8_t sizeBits) {
  Bytes bytes(bench::kDataHeaderSize, 0);
  link::putBE16(bytes.data() + 12, scans);
  bytes[33] = sizeBits;
  link::putBE32(bytes.data() + 74, static_cast<std::uint32_t>(dataStart));
  link::putBE32(bytes.data() + 78, static_cast<std::uint32_t>(dataEnd));
  return bytes;
}

BenchReply BenchTest::block(const Bytes& head, const Bytes& points, std::size_t chunk) {
  return {dataBlockPackets(head, points, chunk), {}};
}

std::vector<std::uint16_t> BenchTest::commands() const {
  std::vector<std::uint16_t> words;
  for (const BenchRequest& request : requests) words.push_back(request.command());
  return words;
}

int BenchTest::count(std::uint16_t command) const {
  const auto words = commands();
  return static_cast<int>(std::count(words.begin(), words.end(), command));
}

Bytes BenchTest::controls() const {
  Bytes bytes;
  for (const auto& s : peer.sent) {
    if (s.bytes.size() == 1) bytes.push_back(s.bytes[0]);
  }
  return bytes;
}

// Every send of the driver runs the bench once, and the bench lines itself up for the next send.
void BenchTest::listen() {
  peer.react([this](ScriptedPeer&, const Bytes& sent) {
    onSend(sent);
    listen();
  });
}

void BenchTest::onSend(const Bytes& sent) {
  if (beforeEachSend) beforeEachSend(sent);
  link::PacketDecoder decoder(payload_.data(), payload_.size());
  std::size_t used = 0;
  if (decoder.feed(sent.data(), sent.size(), used) == link::DecodeEvent::packet) {
    const link::DecodedPacket& packet = decoder.packet();
    if (packet.type == link::kStx) {
      incoming_.clear();
      incomingTick_ = peer.sent.back().tick;
      current_.reset();
    } else if (packet.type == link::kData) {
      incoming_.insert(incoming_.end(), payload_.begin(), payload_.begin() + packet.stored);
    }
    peer.deliver({link::kAck}, answerDelayMs);
    if (packet.type != link::kEtx) return;
    requests.push_back({incomingTick_, incoming_});
    const std::uint16_t command = requests.back().command();
    if (auto& waiting = replies_[command]; !waiting.empty()) {
      current_ = std::move(waiting.front());
      waiting.pop_front();
    } else if (const auto standing = standing_.find(command); standing != standing_.end()) {
      current_ = standing->second;
    }
    next_ = 0;
    if (current_) sendPacket(next_++);
    return;
  }
  // A driver that lost the answer to its packet asks for it again.
  if (sent == Bytes{link::kSync} && !awaitingAnswer_) peer.deliver({link::kAck}, answerDelayMs);
  if (sent.size() != 1 || !current_) return;
  switch (sent[0]) {
    case link::kAck:
      if (!awaitingAnswer_) return;
      awaitingAnswer_ = false;
      if (next_ < current_->packets.size()) {
        sendPacket(next_++);
      } else {
        current_.reset();
      }
      return;
    case link::kNak:
      if (awaitingAnswer_) sendPacket(last_);
      return;
    case link::kRetry:
      next_ = 0;
      sendPacket(next_++);
      return;
    case link::kAbort:
      current_.reset();
      awaitingAnswer_ = false;
      return;
    default:
      return;
  }
}

void BenchTest::sendPacket(std::size_t index) {
  Bytes packet = current_->packets[index];
  if (auto damage = current_->damaged.find(index); damage != current_->damaged.end() && damage->second > 0) {
    --damage->second;
    packet.back() ^= 0x01;
  }
  last_ = index;
  awaitingAnswer_ = true;
  peer.deliver(packet, answerDelayMs);
}

}  // namespace dorvane::testing
