// Scripted and seeded faults of the virtual bench.
#include "sim/fault_plan.h"

#include <algorithm>

namespace dorvane::sim {
namespace {

bool fitsAnswer(FaultKind kind) {
  switch (kind) {
    case FaultKind::Nak:
    case FaultKind::Silence:
    case FaultKind::GarbageAnswer:
    case FaultKind::RetryAnswer:
    case FaultKind::AbortAnswer:
    case FaultKind::SrqBurst:
      return true;
    default:
      return false;
  }
}

bool fitsReplyPacket(FaultKind kind, std::uint8_t type) {
  switch (kind) {
    case FaultKind::SrqBurst:
    case FaultKind::CorruptReplyPacket:
    case FaultKind::LoseReplyByte:
    case FaultKind::GarbageBeforeReplyPacket:
    case FaultKind::AbortReply:
      return true;
    case FaultKind::DuplicateReplyPacket:
      return type == link::kData;  // the driver skips a repeated data packet by its number
    default:
      return false;
  }
}

}  // namespace

const char* faultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Nak: return "NAK";
    case FaultKind::Silence: return "silence";
    case FaultKind::GarbageAnswer: return "garbage answer";
    case FaultKind::RetryAnswer: return "RETRY";
    case FaultKind::AbortAnswer: return "ABORT answer";
    case FaultKind::SrqBurst: return "SRQ burst";
    case FaultKind::CorruptReplyPacket: return "corrupt reply packet";
    case FaultKind::LoseReplyByte: return "lose reply byte";
    case FaultKind::DuplicateReplyPacket: return "duplicate reply packet";
    case FaultKind::GarbageBeforeReplyPacket: return "garbage before reply packet";
    case FaultKind::AbortReply: return "ABORT reply";
  }
  return "?";
}

FaultOdds FaultOdds::recoverable(double rate) {
  FaultOdds odds;
  odds.nak = rate;
  odds.silence = rate / 4;  // each one costs the driver a full answer time-out
  odds.garbageAnswer = rate / 2;
  odds.retry = rate / 4;
  odds.srqBurst = rate;
  odds.corruptReply = rate;
  odds.duplicateReply = rate / 2;
  return odds;
}

void FaultPlan::add(const Fault& fault) {
  std::lock_guard lock(mutex_);
  if (fault.count > 0) queue_.push_back(fault);
}

void FaultPlan::randomize(std::uint64_t seed, const FaultOdds& odds) {
  std::lock_guard lock(mutex_);
  odds_ = odds;
  random_.seed(seed);
  packetKey_.reset();
  naksLeft_ = 0;
  nakRunUsed_ = answerLost_ = retryUsed_ = false;
}

std::size_t FaultPlan::queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::vector<AppliedFault> FaultPlan::applied() const {
  std::lock_guard lock(mutex_);
  return applied_;
}

void FaultPlan::record(FaultKind kind, unsigned count) { applied_.push_back({event_, kind, count}); }

// mt19937_64's sequence is fixed by the standard, unlike the library's distributions, so a seed
// replays the same faults everywhere.
double FaultPlan::draw() { return static_cast<double>(random_() >> 11) * 0x1.0p-53; }

unsigned FaultPlan::below(unsigned bound) { return static_cast<unsigned>(random_() % bound); }

AnswerFaults FaultPlan::onAnswer(const AnswerEvent& event) {
  std::lock_guard lock(mutex_);
  AnswerFaults out;
  const auto it = std::find_if(queue_.begin(), queue_.end(), [](const Fault& f) { return fitsAnswer(f.kind); });
  if (it != queue_.end()) {
    const Fault fault = *it;
    bool used = true;
    switch (fault.kind) {
      case FaultKind::Nak:
        out.answer = link::kNak;
        used = --it->count == 0;
        break;
      case FaultKind::Silence: out.delivery = AnswerFaults::Delivery::Withhold; break;
      case FaultKind::GarbageAnswer: out.delivery = AnswerFaults::Delivery::Garbage; break;
      case FaultKind::RetryAnswer: out.answer = link::kRetry; break;
      case FaultKind::AbortAnswer: out.answer = link::kAbort; break;
      default: out.srqBefore = fault.count; break;  // SrqBurst
    }
    record(fault.kind, fault.kind == FaultKind::Nak ? 1 : fault.count);
    if (used) queue_.erase(it);
  } else if (odds_) {
    drawAnswerFaults(event, out);
  }
  ++event_;
  return out;
}

void FaultPlan::drawAnswerFaults(const AnswerEvent& event, AnswerFaults& out) {
  const FaultOdds& odds = *odds_;
  // The driver sends a packet again until it is acknowledged, so the same key in a row is the same
  // packet, and the per-packet limits hold across its copies.
  const std::uint32_t key = (std::uint32_t{event.type} << 16) | event.number;
  if (packetKey_ != key) {
    packetKey_ = key;
    naksLeft_ = 0;
    nakRunUsed_ = answerLost_ = false;
  }
  if (odds.largestSrqBurst > 0 && draw() < odds.srqBurst) {
    out.srqBefore = 1 + below(odds.largestSrqBurst);
    record(FaultKind::SrqBurst, out.srqBefore);
  }
  if (naksLeft_ > 0) {
    --naksLeft_;
    out.answer = link::kNak;
    record(FaultKind::Nak);
    return;
  }
  // One draw picks at most one answer fault; a fault past its limit leaves its share unused.
  const double roll = draw();
  double edge = 0;
  auto picked = [&](double chance, bool allowed) {
    const bool hit = allowed && roll >= edge && roll < edge + chance;
    edge += chance;
    return hit;
  };
  if (picked(odds.nak, !nakRunUsed_ && odds.longestNakRun > 0)) {
    nakRunUsed_ = true;
    naksLeft_ = below(odds.longestNakRun);
    out.answer = link::kNak;
    record(FaultKind::Nak);
  } else if (picked(odds.retry, !retryUsed_)) {
    retryUsed_ = true;
    out.answer = link::kRetry;
    record(FaultKind::RetryAnswer);
  } else if (picked(odds.abortAnswer, true)) {
    out.answer = link::kAbort;
    record(FaultKind::AbortAnswer);
  } else if (picked(odds.silence, !answerLost_)) {
    answerLost_ = true;
    out.delivery = AnswerFaults::Delivery::Withhold;
    record(FaultKind::Silence);
  } else if (picked(odds.garbageAnswer, !answerLost_)) {
    answerLost_ = true;
    out.delivery = AnswerFaults::Delivery::Garbage;
    record(FaultKind::GarbageAnswer);
  }
  // An acknowledged ETX ends the message: the next one may have its own RETRY.
  if (event.type == link::kEtx && out.answer == link::kAck) retryUsed_ = false;
}

ReplyPacketFaults FaultPlan::onReplyPacket(const ReplyPacketEvent& event) {
  std::lock_guard lock(mutex_);
  ReplyPacketFaults out;
  const auto it = std::find_if(queue_.begin(), queue_.end(),
                               [&](const Fault& f) { return fitsReplyPacket(f.kind, event.type); });
  if (it != queue_.end()) {
    const Fault fault = *it;
    queue_.erase(it);
    switch (fault.kind) {
      case FaultKind::CorruptReplyPacket: out.damageAt = std::min(fault.offset, event.size - 1); break;
      case FaultKind::LoseReplyByte: out.loseAt = std::min(fault.offset, event.size - 1); break;
      case FaultKind::DuplicateReplyPacket: out.duplicateAfterAck = true; break;
      case FaultKind::GarbageBeforeReplyPacket: out.garbageBefore = true; break;
      case FaultKind::AbortReply: out.abortInstead = true; break;
      default: out.srqBefore = fault.count; break;  // SrqBurst
    }
    record(fault.kind, fault.count);
  } else if (odds_) {
    drawReplyFaults(event, out);
  }
  ++event_;
  return out;
}

void FaultPlan::drawReplyFaults(const ReplyPacketEvent& event, ReplyPacketFaults& out) {
  const FaultOdds& odds = *odds_;
  if (odds.largestSrqBurst > 0 && draw() < odds.srqBurst) {
    out.srqBefore = 1 + below(odds.largestSrqBurst);
    record(FaultKind::SrqBurst, out.srqBefore);
  }
  if (draw() < odds.abortReply) {
    out.abortInstead = true;
    record(FaultKind::AbortReply);
    return;
  }
  if (draw() < odds.garbageBeforeReply) {
    out.garbageBefore = true;
    record(FaultKind::GarbageBeforeReplyPacket);
  }
  // Damage only bytes whose damage the driver sees as a bad checksum: never the type (it would take
  // the packet for a stray byte) nor a data packet's length (it would wait for bytes that never come).
  if (event.damagedCopies == 0 && draw() < odds.corruptReply) {
    if (event.type == link::kData) {
      const unsigned pick = below(static_cast<unsigned>(event.size - 3));  // number, payload, checksum
      out.damageAt = pick < 2 ? 1 + pick : link::kPacketHeaderSize + (pick - 2);
    } else {
      out.damageAt = 1 + below(link::kFramePacketSize - 1);
    }
    out.damageMask = static_cast<std::uint8_t>(1 + below(255));
    record(FaultKind::CorruptReplyPacket);
  } else if (event.damagedCopies == 0 && draw() < odds.loseReplyByte) {
    // The driver then waits for a byte that never comes, and asks for the packet again. A lost
    // header byte of a data packet would shift its length, which is more than one damaged byte.
    const std::size_t first = event.type == link::kData ? link::kPacketHeaderSize : 1;
    out.loseAt = first + below(static_cast<unsigned>(event.size - first));
    record(FaultKind::LoseReplyByte);
  }
  if (event.type == link::kData && !event.lastData && !event.resend && draw() < odds.duplicateReply) {
    out.duplicateAfterAck = true;
    record(FaultKind::DuplicateReplyPacket);
  }
}

}  // namespace dorvane::sim
