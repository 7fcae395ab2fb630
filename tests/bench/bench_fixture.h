// The bench requests against a scripted bench: it acknowledges every packet of the driver's request,
// then sends the reply scripted for that command one packet per answer of the driver, resending a
// packet on NAK and the whole reply on RETRY.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "bench/requests.h"
#include "link/packet_decoder.h"
#include "tests/link/link_fixture.h"

namespace dorvane::testing {

// One reply as packets on the wire; the driver's ACK of each brings the next.
struct BenchReply {
  std::vector<Bytes> packets;
  // Packet index -> how many more times that packet goes out with a broken checksum.
  std::map<std::size_t, int> damaged;
};

// A request as the bench reassembled it from the driver's packets, and the tick of its STX.
struct BenchRequest {
  std::uint32_t tick;
  Bytes message;
  std::uint16_t command() const;
};

// A data block's entry in a status reply.
struct Block {
  std::uint16_t flags;
  std::uint32_t stamp;
};

class BenchTest : public LinkTest {
 protected:
  BenchTest() { listen(); }

  // The next request with `command` gets `reply`; once these run out, the standing reply (if any).
  void queue(std::uint16_t command, BenchReply reply) { replies_[command].push_back(std::move(reply)); }
  void always(std::uint16_t command, BenchReply reply) { standing_[command] = std::move(reply); }

  // The reply message `data` behind a leading word, framed in packets of `payloadSize`.
  static BenchReply replyOf(const Bytes& data, std::size_t payloadSize = link::kMaxPayload);
  static BenchReply statusReply(std::uint16_t specStat, const std::vector<Block>& blocks = {});
  // A data header as the bench sends it: big-endian, the point size in bits 3-4 of byte 33.
  static Bytes header(std::int32_t dataStart, std::int32_t dataEnd, std::uint16_t scans = 1,
                      std::uint8_t sizeBits = 0);
  // The data reply: the header in packet 0 behind the leading word, the points in packets of `chunk`.
  static BenchReply block(const Bytes& head, const Bytes& points, std::size_t chunk = 200);

  // Runs on the bench's side before it handles each send of the driver.
  std::function<void(const Bytes& sent)> beforeEachSend;

  std::vector<std::uint16_t> commands() const;
  int count(std::uint16_t command) const;
  // The single bytes the driver sent (its answers to reply packets, ABORTs), in order.
  Bytes controls() const;
  bool logHas(const std::string& line) const { return logCount(line) > 0; }

  // Each answer of the bench reaches the driver this long after the driver's send.
  std::uint32_t answerDelayMs = 0;
  std::vector<BenchRequest> requests;
  bench::StatusTables tables;

 private:
  void listen();
  void onSend(const Bytes& sent);
  void sendPacket(std::size_t index);

  Bytes payload_ = Bytes(65535 + link::kChecksumSize);  // a data packet's payload and checksum
  std::map<std::uint16_t, std::deque<BenchReply>> replies_;
  std::map<std::uint16_t, BenchReply> standing_;
  Bytes incoming_;
  std::uint32_t incomingTick_ = 0;
  std::optional<BenchReply> current_;
  std::size_t next_ = 0;
  std::size_t last_ = 0;
  bool awaitingAnswer_ = false;
};

}  // namespace dorvane::testing
