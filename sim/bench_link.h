// The bench's end of the serial link: it takes the driver's messages packet by packet, hands each
// complete request to a handler and sends the handler's reply back, with faults from a FaultPlan.
#pragma once

#include <atomic>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "link/packet_decoder.h"
#include "link/wire.h"
#include "sim/fault_plan.h"

namespace dorvane::sim {

// What the bench sends back for a request. Most replies are one message (its 2-byte leading word
// first) cut into data packets of replyPayload bytes; a spectrum's data packet 0 carries only the
// leading word and the data header, so a reply may fix the size of its first packet. A bench that
// cannot serve a request refuses it with ABORT in place of the reply.
struct Reply {
  // Implicit, so a handler may return a plain message.
  Reply(std::vector<std::uint8_t> message, std::size_t firstPacket = 0)
      : message(std::move(message)), firstPacket(firstPacket) {}
  static Reply refusal() {
    Reply reply({});
    reply.refused = true;
    return reply;
  }

  std::vector<std::uint8_t> message;
  // Payload bytes of data packet 0 (1 to 65535, at most the message); 0: replyPayload like the rest.
  // With it set, the reply is a run of packets rather than one message, and may pass 65535 bytes.
  std::size_t firstPacket = 0;
  bool refused = false;
  // Called on the link's thread once the driver has acknowledged the reply's last packet, i.e. it
  // holds the whole reply; never for a reply abandoned or refused.
  std::function<void()> onSent;
};

// Gets a whole request message; returns the reply, or nothing for a request that reads nothing
// back. Runs on the bench's thread; must not throw.
using RequestHandler = std::function<std::optional<Reply>(const std::vector<std::uint8_t>& request)>;

struct BenchLinkOptions {
  std::size_t replyPayload = link::kMaxPayload;  // bytes per reply data packet, 1 to 254
  // Silence inside a driver packet after which the bench drops it unanswered.
  std::chrono::milliseconds byteTimeout{500};
  // How long a reply packet waits for the driver's answer: longer than the driver's own escalation
  // of three 2000 ms waits, so the driver always gives up first.
  std::chrono::milliseconds answerTimeout{6500};
  std::chrono::milliseconds idleSyncInterval{0};  // 0: no idle SYNC bytes
  std::uint32_t baud = 0;                         // 0: unpaced; otherwise 10 bits of time per byte
};

struct BenchStats {
  std::uint64_t packetsReceived = 0;   // intact driver packets
  std::uint64_t damagedPackets = 0;    // answered NAK for a bad checksum
  std::uint64_t truncatedPackets = 0;  // dropped unanswered after the byte time-out
  std::uint64_t strayBytes = 0;        // driver bytes that mean nothing where they came
  std::uint64_t syncsReceived = 0;
  std::uint64_t abortsReceived = 0;
  std::uint64_t requestsReceived = 0;  // complete requests handed to the handler
  std::uint64_t requestsDropped = 0;   // unfinished requests given up (RETRY, ABORT, too long)
  std::uint64_t acksSent = 0;          // answers written, repeats for a SYNC included
  std::uint64_t naksSent = 0;
  std::uint64_t retriesSent = 0;
  std::uint64_t abortsSent = 0;
  std::uint64_t repliesSent = 0;       // replies whose ETX the driver acknowledged
  std::uint64_t repliesAbandoned = 0;
  std::uint64_t repliesRefused = 0;    // ABORT sent in place of a reply
  std::uint64_t invalidReplies = 0;    // handler replies that no packets can carry, not sent
  std::uint64_t replyPacketsSent = 0;  // every copy of every reply packet
  std::uint64_t srqSent = 0;
  std::uint64_t idleSyncsSent = 0;
  std::uint64_t outputStalls = 0;      // the driver read nothing for a whole answer time-out
  std::uint64_t lineLost = 0;          // 1 once the line hung up; the bench's thread has ended
};

// Usage, e.g. in a test:
//   PseudoTerminal pty;
//   BenchLink bench(pty.masterFd(), [](const std::vector<std::uint8_t>& request) { ... }, options);
//   bench.faults().add(Fault::nak(2));
//   bench.start();  // the driver now opens pty.slavePath()
// The handler runs when a request's ETX is accepted, before that ETX's ACK goes out; a reply waits
// until the driver has that ACK (a withheld ACK reaches it through its SYNC).
class BenchLink {
 public:
  // Serves the line on `fd` (a pty master, made non-blocking here), which must outlive the link.
  BenchLink(int fd, RequestHandler handler, BenchLinkOptions options = {});
  ~BenchLink();
  BenchLink(const BenchLink&) = delete;
  BenchLink& operator=(const BenchLink&) = delete;

  void start();
  // Wakes the bench's thread from any wait and joins it.
  void stop();

  // Add scripted faults or randomise them at any time, and read which faults were applied.
  FaultPlan& faults() { return faults_; }

  // Queues SRQ bytes for the driver; they go out between the bench's packets.
  void sendSrq(unsigned count = 1);

  BenchStats stats() const;
  // Waits until `condition` holds for the statistics or `limit` passes; returns whether it held.
  bool waitUntil(const std::function<bool(const BenchStats&)>& condition,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  using Clock = std::chrono::steady_clock;
  using Bytes = std::vector<std::uint8_t>;
  enum class Step { None, StartRequest, AppendData, CompleteRequest };
  struct Verdict {
    std::uint8_t answer;
    Step step;
  };

  void run();
  void serveNext();
  void receivePacket(std::uint8_t type);
  void onIntactPacket();
  Verdict judge() const;
  void accept(Step step);
  void dropRequest();
  void answerSync();
  void releaseHeldReply();
  void sendAnswer(std::uint8_t answer);
  void sendReply(const Reply& reply);
  std::vector<Bytes> packetsOf(const Reply& reply) const;
  std::optional<std::uint8_t> awaitAnswer();

  bool waitFor(short events, Clock::time_point deadline);
  bool fillInput(Clock::time_point deadline);
  std::optional<std::uint8_t> readByte(Clock::time_point deadline);
  void send(const std::uint8_t* bytes, std::size_t count);
  void send(std::uint8_t byte) { send(&byte, 1); }
  void writeAll(const std::uint8_t* bytes, std::size_t count);
  void sendSrqBurst(unsigned count);
  void flushQueuedSrq();
  void bump(std::uint64_t BenchStats::*counter, std::uint64_t by = 1);

  const int fd_;
  const RequestHandler handler_;
  const BenchLinkOptions options_;
  const Clock::duration byteTime_;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<unsigned> srqQueued_{0};
  FaultPlan faults_;

  mutable std::mutex statsMutex_;
  mutable std::condition_variable statsChanged_;
  BenchStats stats_;

  // The bench thread's own state.
  std::array<std::uint8_t, 4096> input_{};
  std::size_t inputPos_ = 0;
  std::size_t inputEnd_ = 0;
  // The driver's packet being read: a data packet's payload (up to its 16-bit length) and checksum.
  Bytes payload_ = Bytes(65535 + link::kChecksumSize);
  link::PacketDecoder decoder_{payload_.data(), payload_.size()};
  link::DecodedPacket packet_;
  Bytes request_;
  bool assembling_ = false;
  std::uint16_t expectedPackets_ = 0;
  std::uint16_t nextNumber_ = 0;
  std::optional<std::uint8_t> lastAnswer_;
  std::optional<Reply> heldReply_;  // waits for the driver to get the ACK of its request's ETX
  Clock::time_point lineFreeAt_{};
  Clock::time_point nextIdleSync_{};
};

}  // namespace dorvane::sim
