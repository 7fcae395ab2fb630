// The virtual bench's fault knobs: faults that a test queues, or draws from a seeded generator, and
// that the bench's end of the link applies to its answers and to the packets of its replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "link/wire.h"

namespace dorvane::sim {

enum class FaultKind {
  Nak,                       // NAK in place of the ACK to an intact driver packet
  Silence,                   // the answer withheld (a SYNC from the driver still gets it)
  GarbageAnswer,             // a byte that is no control byte in place of the answer
  RetryAnswer,               // RETRY in place of the ACK: the driver sends its message again
  AbortAnswer,               // ABORT in place of the ACK: the exchange is abandoned
  SrqBurst,                  // SRQ bytes before an answer or a reply packet
  CorruptReplyPacket,        // one byte of a reply packet's copy damaged
  LoseReplyByte,             // one byte of a reply packet's copy lost on the line
  DuplicateReplyPacket,      // a reply data packet sent once more after its ACK
  GarbageBeforeReplyPacket,  // a stray byte where the driver expects a reply packet to start
  AbortReply,                // ABORT in place of a reply packet: the reply is abandoned
};

const char* faultName(FaultKind kind);

// One scripted fault. Build it with the named constructors.
struct Fault {
  static constexpr std::size_t kLastByte = static_cast<std::size_t>(-1);

  FaultKind kind;
  unsigned count = 1;              // NAK: how many answers; SRQ burst: how many bytes
  std::size_t offset = kLastByte;  // CorruptReplyPacket, LoseReplyByte: the byte (default: the last)

  static Fault nak(unsigned times) { return {FaultKind::Nak, times}; }
  static Fault silence() { return {FaultKind::Silence}; }
  static Fault garbageAnswer() { return {FaultKind::GarbageAnswer}; }
  static Fault retry() { return {FaultKind::RetryAnswer}; }
  static Fault abortAnswer() { return {FaultKind::AbortAnswer}; }
  static Fault srqBurst(unsigned bytes) { return {FaultKind::SrqBurst, bytes}; }
  static Fault corruptReplyPacket(std::size_t at = kLastByte) { return {FaultKind::CorruptReplyPacket, 1, at}; }
  static Fault loseReplyByte(std::size_t at = kLastByte) { return {FaultKind::LoseReplyByte, 1, at}; }
  static Fault duplicateReplyPacket() { return {FaultKind::DuplicateReplyPacket}; }
  static Fault garbageBeforeReplyPacket() { return {FaultKind::GarbageBeforeReplyPacket}; }
  static Fault abortReply() { return {FaultKind::AbortReply}; }
};

// The chance of each fault per event, for the random mode.
struct FaultOdds {
  double nak = 0;  // a NAK run of 1 to longestNakRun answers starts
  double silence = 0;
  double garbageAnswer = 0;
  double retry = 0;
  double abortAnswer = 0;
  double srqBurst = 0;  // 1 to largestSrqBurst bytes
  double corruptReply = 0;
  double loseReplyByte = 0;  // never a data packet's header byte: its length would read wrong
  double duplicateReply = 0;
  double garbageBeforeReply = 0;
  double abortReply = 0;
  unsigned longestNakRun = 3;
  unsigned largestSrqBurst = 4;

  // Only faults that a correct driver recovers from with every message delivered intact: lost or
  // garbled answers, NAK runs, RETRY, damaged and duplicated reply packets, SRQ bursts; no ABORT.
  static FaultOdds recoverable(double rate = 0.05);
};

// An intact driver packet that the bench is about to acknowledge.
struct AnswerEvent {
  std::uint8_t type;     // link::kStx, kEtx or kData
  std::uint16_t number;  // a data packet's number, a frame packet's count
};

struct AnswerFaults {
  enum class Delivery { Send, Withhold, Garbage };

  unsigned srqBefore = 0;
  std::uint8_t answer = link::kAck;  // or NAK, RETRY, ABORT in its place
  Delivery delivery = Delivery::Send;
};

// One copy of a reply packet about to go out.
struct ReplyPacketEvent {
  std::uint8_t type;
  std::size_t size;
  unsigned damagedCopies;  // copies of this packet already sent damaged in this reply
  bool resend;             // this copy answers the driver's NAK
  // The reply's last data packet: a repeat of it would reach the driver where it expects the ETX
  // and leave the real ETX on the line, stale, so a recoverable plan never repeats it.
  bool lastData = false;
};

struct ReplyPacketFaults {
  unsigned srqBefore = 0;
  bool garbageBefore = false;
  bool abortInstead = false;
  std::optional<std::size_t> damageAt;  // the byte damaged in this copy only
  std::optional<std::size_t> loseAt;    // the byte left out of this copy
  std::uint8_t damageMask = 0xFF;
  bool duplicateAfterAck = false;
};

struct AppliedFault {
  std::uint64_t event;  // answers and reply-packet copies, counted together from 0
  FaultKind kind;
  unsigned count;
  bool operator==(const AppliedFault&) const = default;
};

// Scripted faults come first: each applies to the next event it fits, one fault per event. With the
// queue empty, a randomised plan draws from its odds. The random draws respect limits that keep a
// driver able to recover (at most one lost or garbled answer and one NAK run per driver packet, one
// RETRY per message, one damaged copy per reply packet), so only the odds decide recoverability.
// Thread-safe: a test fills and reads it while the bench applies it.
class FaultPlan {
 public:
  void add(const Fault& fault);
  void randomize(std::uint64_t seed, const FaultOdds& odds);

  std::size_t queued() const;
  std::vector<AppliedFault> applied() const;

  // Called by the bench link.
  AnswerFaults onAnswer(const AnswerEvent& event);
  ReplyPacketFaults onReplyPacket(const ReplyPacketEvent& event);

 private:
  void record(FaultKind kind, unsigned count = 1);
  double draw();
  unsigned below(unsigned bound);
  void drawAnswerFaults(const AnswerEvent& event, AnswerFaults& out);
  void drawReplyFaults(const ReplyPacketEvent& event, ReplyPacketFaults& out);

  mutable std::mutex mutex_;
  std::deque<Fault> queue_;
  std::vector<AppliedFault> applied_;
  std::uint64_t event_ = 0;

  std::optional<FaultOdds> odds_;
  std::mt19937_64 random_;
  // What the random mode has done to the driver packet now being answered (and to the message).
  std::optional<std::uint32_t> packetKey_;
  unsigned naksLeft_ = 0;
  bool nakRunUsed_ = false;
  bool answerLost_ = false;
  bool retryUsed_ = false;
};

}  // namespace dorvane::sim
