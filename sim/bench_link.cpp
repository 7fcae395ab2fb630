// The bench's end of the serial link, served on its own thread: answers, request assembly, replies,
// SRQ and idle SYNC bytes, line pacing and the faults of the plan.
#include "sim/bench_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "link/byte_order.h"

namespace dorvane::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr Clock::time_point kNoDeadline = Clock::time_point::max();
constexpr std::uint8_t kGarbage = 0x41;  // 'A': neither a control byte nor a packet type
constexpr std::size_t kLargestMessage = 65535;
constexpr std::size_t kMostPackets = 65535;  // the STX's count field
constexpr std::size_t kLargestReplyPayload = 254;
// Bounds on one reply, so a confused driver cannot keep the bench sending forever.
constexpr unsigned kMostCopiesPerPacket = 10;
constexpr unsigned kMostReplyStarts = 3;

// Thrown to unwind the bench's thread: stop() was called, or the line is gone.
struct Stopped {};
struct LineLost {};
// The driver has read nothing for a whole answer time-out while the bench had bytes to write.
struct OutputStalled {};

Clock::duration timePerByte(std::uint32_t baud) {
  if (baud == 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

// Data packets after the first one of a reply that fixes its first packet's size.
std::size_t packetsAfterFirst(const Reply& reply, std::size_t payload) {
  return (reply.message.size() - reply.firstPacket + payload - 1) / payload;
}

// Whether packets can carry the reply: a message fits the message layer's 16-bit length; a run of
// packets fits the STX's 16-bit count and a data packet's 16-bit length.
bool sendable(const Reply& reply, std::size_t payload) {
  if (reply.refused) return true;
  if (reply.message.empty()) return false;
  if (reply.firstPacket == 0) return reply.message.size() <= kLargestMessage;
  return reply.firstPacket <= std::min(reply.message.size(), kLargestMessage) &&
         1 + packetsAfterFirst(reply, payload) <= kMostPackets;
}

BenchLinkOptions clamped(BenchLinkOptions options) {
  options.replyPayload = std::clamp<std::size_t>(options.replyPayload, 1, kLargestReplyPayload);
  return options;
}

}  // namespace

BenchLink::BenchLink(int fd, RequestHandler handler, BenchLinkOptions options)
    : fd_(fd), handler_(std::move(handler)), options_(clamped(options)), byteTime_(timePerByte(options.baud)) {
  // Every wait is a poll with a deadline, so neither reads nor writes may block.
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "fcntl");
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

BenchLink::~BenchLink() {
  stop();
  ::close(wakeFd_);
}

void BenchLink::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void BenchLink::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
}

void BenchLink::sendSrq(unsigned count) {
  srqQueued_ += count;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
}

BenchStats BenchLink::stats() const {
  std::lock_guard lock(statsMutex_);
  return stats_;
}

bool BenchLink::waitUntil(const std::function<bool(const BenchStats&)>& condition,
                          std::chrono::milliseconds limit) const {
  std::unique_lock lock(statsMutex_);
  return statsChanged_.wait_for(lock, limit, [&] { return condition(stats_); });
}

void BenchLink::bump(std::uint64_t BenchStats::*counter, std::uint64_t by) {
  {
    std::lock_guard lock(statsMutex_);
    stats_.*counter += by;
  }
  statsChanged_.notify_all();
}

// ---- The serving loop ----

void BenchLink::run() {
  nextIdleSync_ = Clock::now() + options_.idleSyncInterval;
  try {
    for (;;) {
      try {
        serveNext();
      } catch (const OutputStalled&) {
        bump(&BenchStats::outputStalls);
        dropRequest();
        heldReply_.reset();
      }
    }
  } catch (const Stopped&) {
  } catch (const LineLost&) {
    // A hung-up master keeps reporting POLLHUP: the thread ends rather than spin on it.
    bump(&BenchStats::lineLost);
  }
}

// Waits for the driver's next byte, sending idle SYNC bytes while none comes, and acts on it.
void BenchLink::serveNext() {
  const bool idleSync = options_.idleSyncInterval.count() > 0;
  const auto byte = readByte(idleSync ? nextIdleSync_ : kNoDeadline);
  if (!byte) {
    // An idle SYNC is worth nothing to a driver that has its port closed: never wait for room.
    if (waitFor(POLLOUT, Clock::now())) {
      send(link::kSync);
      bump(&BenchStats::idleSyncsSent);
    }
    nextIdleSync_ = std::max(nextIdleSync_ + options_.idleSyncInterval, Clock::now());
    return;
  }
  switch (*byte) {
    case link::kSync:
      answerSync();
      break;
    case link::kAbort:
      bump(&BenchStats::abortsReceived);
      dropRequest();
      heldReply_.reset();
      break;
    case link::kStx:
    case link::kEtx:
    case link::kData:
      receivePacket(*byte);
      break;
    default:
      bump(&BenchStats::strayBytes);
      break;
  }
  nextIdleSync_ = Clock::now() + options_.idleSyncInterval;
}

// The driver lost an answer and asks for it again.
void BenchLink::answerSync() {
  bump(&BenchStats::syncsReceived);
  if (!lastAnswer_) return;
  sendAnswer(*lastAnswer_);
  if (*lastAnswer_ == link::kAck) releaseHeldReply();
}

// The driver now has the ACK of its request's ETX: the reply may go.
void BenchLink::releaseHeldReply() {
  if (!heldReply_) return;
  const Reply reply = std::move(*heldReply_);
  heldReply_.reset();
  sendReply(reply);
}

// ---- Receiving the driver's packets ----

void BenchLink::receivePacket(std::uint8_t type) {
  // A new packet means the driver has moved on: a reply held back for its lost ACK is void.
  heldReply_.reset();
  decoder_.reset();
  link::DecodeEvent event = decoder_.feed(type);
  while (event == link::DecodeEvent::needMore) {
    if (inputPos_ == inputEnd_ && !fillInput(Clock::now() + options_.byteTimeout)) {
      bump(&BenchStats::truncatedPackets);
      return;
    }
    std::size_t used = 0;
    event = decoder_.feed(input_.data() + inputPos_, inputEnd_ - inputPos_, used);
    inputPos_ += used;
  }
  packet_ = decoder_.packet();
  if (event == link::DecodeEvent::badChecksum) {
    bump(&BenchStats::damagedPackets);
    lastAnswer_ = link::kNak;
    sendAnswer(link::kNak);
    return;
  }
  bump(&BenchStats::packetsReceived);
  onIntactPacket();
}

void BenchLink::onIntactPacket() {
  const Verdict verdict = judge();
  AnswerFaults faults;
  if (verdict.answer == link::kAck)
    faults = faults_.onAnswer({packet_.type, packet_.number});
  const std::uint8_t answer = verdict.answer == link::kAck ? faults.answer : verdict.answer;

  // The bench acts on what it acknowledges, whether or not the ACK reaches the driver.
  if (answer == link::kAck)
    accept(verdict.step);
  else if (answer == link::kRetry || answer == link::kAbort)
    dropRequest();
  lastAnswer_ = answer;

  sendSrqBurst(faults.srqBefore);
  switch (faults.delivery) {
    case AnswerFaults::Delivery::Send:
      sendAnswer(answer);
      break;
    case AnswerFaults::Delivery::Withhold:
      return;  // the driver's SYNC gets it; a reply waits for that
    case AnswerFaults::Delivery::Garbage:
      send(kGarbage);
      return;
  }
  if (answer == link::kAck) releaseHeldReply();
}

// The answer that the packet in packet_ deserves, and what accepting it means.
BenchLink::Verdict BenchLink::judge() const {
  const std::uint16_t field = packet_.number;  // count or packet number
  switch (packet_.type) {
    case link::kStx:
      return {link::kAck, Step::StartRequest};  // a new STX restarts the request
    case link::kData: {
      if (!assembling_) return {link::kRetry, Step::None};
      if (field < nextNumber_) return {link::kAck, Step::None};  // a repeat: acknowledged, not kept
      // A gap cannot be mended by sending this packet again; only the whole message can.
      if (field != nextNumber_ || field >= expectedPackets_) return {link::kRetry, Step::None};
      if (request_.size() + packet_.payload > kLargestMessage) return {link::kAbort, Step::None};
      return {link::kAck, Step::AppendData};
    }
    default:  // ETX
      if (!assembling_ || field != expectedPackets_ || nextNumber_ != expectedPackets_)
        return {link::kRetry, Step::None};
      return {link::kAck, Step::CompleteRequest};
  }
}

void BenchLink::accept(Step step) {
  switch (step) {
    case Step::None:
      break;
    case Step::StartRequest:
      assembling_ = true;
      expectedPackets_ = packet_.number;
      nextNumber_ = 0;
      request_.clear();
      break;
    case Step::AppendData:
      request_.insert(request_.end(), payload_.begin(), payload_.begin() + packet_.stored);
      ++nextNumber_;
      break;
    case Step::CompleteRequest: {
      assembling_ = false;
      bump(&BenchStats::requestsReceived);
      auto reply = handler_(request_);
      request_.clear();
      if (reply && !sendable(*reply, options_.replyPayload)) {
        bump(&BenchStats::invalidReplies);
        reply.reset();
      }
      heldReply_ = std::move(reply);
      break;
    }
  }
}

void BenchLink::dropRequest() {
  if (!assembling_) return;
  assembling_ = false;
  request_.clear();
  bump(&BenchStats::requestsDropped);
}

void BenchLink::sendAnswer(std::uint8_t answer) {
  send(answer);
  switch (answer) {
    case link::kAck: bump(&BenchStats::acksSent); break;
    case link::kNak: bump(&BenchStats::naksSent); break;
    case link::kRetry: bump(&BenchStats::retriesSent); break;
    default: bump(&BenchStats::abortsSent); break;
  }
}

// ---- Sending replies ----

void BenchLink::sendReply(const Reply& reply) {
  if (reply.refused) {
    sendAnswer(link::kAbort);
    bump(&BenchStats::repliesRefused);
    return;
  }
  const auto packets = packetsOf(reply);
  std::vector<unsigned> damagedCopies(packets.size(), 0);
  std::size_t next = 0;
  unsigned starts = 1;
  unsigned copies = 0;
  bool resend = false;         // this copy answers a NAK
  bool duplicateDue = false;   // the packet goes once more after its ACK
  bool extraCopy = false;      // this copy is that duplicate: no faults of its own
  auto abandon = [&] { bump(&BenchStats::repliesAbandoned); };

  while (next < packets.size()) {
    const Bytes& packet = packets[next];
    if (++copies > kMostCopiesPerPacket) return abandon();
    ReplyPacketFaults faults;
    if (!extraCopy) faults = faults_.onReplyPacket(
          {packet[0], packet.size(), damagedCopies[next], resend, next + 2 == packets.size()});
    sendSrqBurst(faults.srqBefore);
    if (faults.garbageBefore) send(kGarbage);
    if (faults.abortInstead) {
      sendAnswer(link::kAbort);
      return abandon();
    }
    if (faults.duplicateAfterAck) duplicateDue = true;
    if (faults.damageAt || faults.loseAt) {
      // One damaged byte per copy: the additive checksum catches every single-byte error, not every pair.
      Bytes damaged = packet;
      if (faults.damageAt) damaged[*faults.damageAt] ^= faults.damageMask;
      if (faults.loseAt) damaged.erase(damaged.begin() + static_cast<std::ptrdiff_t>(*faults.loseAt));
      ++damagedCopies[next];
      send(damaged.data(), damaged.size());
    } else {
      send(packet.data(), packet.size());
    }
    bump(&BenchStats::replyPacketsSent);

    const auto answer = awaitAnswer();
    if (answer == link::kAck) {
      extraCopy = duplicateDue;
      duplicateDue = false;
      if (!extraCopy) ++next;
      copies = 0;
      resend = false;
    } else if (answer == link::kNak) {
      resend = true;
    } else if (answer == link::kRetry) {
      if (++starts > kMostReplyStarts) return abandon();
      next = 0;
      copies = 0;
      resend = duplicateDue = extraCopy = false;
    } else {
      if (answer == link::kAbort) bump(&BenchStats::abortsReceived);
      return abandon();
    }
  }
  bump(&BenchStats::repliesSent);
  if (reply.onSent) reply.onSent();
}

// The reply framed for the wire: STX, the data packets, ETX.
std::vector<BenchLink::Bytes> BenchLink::packetsOf(const Reply& reply) const {
  const std::size_t payload = options_.replyPayload;
  if (reply.firstPacket == 0) return link::framePackets(reply.message, payload);

  const auto count = static_cast<std::uint16_t>(1 + packetsAfterFirst(reply, payload));
  std::vector<Bytes> packets;
  packets.reserve(count + 2u);
  packets.emplace_back(link::kFramePacketSize);
  link::buildFramePacket(link::kStx, count, packets.back().data());
  for (std::uint16_t number = 0; number < count; ++number) {
    const std::size_t offset = number == 0 ? 0 : reply.firstPacket + (number - 1u) * payload;
    const std::size_t length =
        number == 0 ? reply.firstPacket : std::min(payload, reply.message.size() - offset);
    packets.emplace_back(link::kPacketHeaderSize + length + link::kChecksumSize);
    link::buildDataPacket(number, reply.message.data() + offset, static_cast<std::uint16_t>(length),
                          packets.back().data());
  }
  packets.emplace_back(link::kFramePacketSize);
  link::buildFramePacket(link::kEtx, count, packets.back().data());
  return packets;
}

// The driver's answer to the reply packet just sent, or nothing after a long silence or when the
// driver starts a packet of its own (it has given up on this reply).
std::optional<std::uint8_t> BenchLink::awaitAnswer() {
  const auto deadline = Clock::now() + options_.answerTimeout;
  for (;;) {
    const auto byte = readByte(deadline);
    if (!byte) return std::nullopt;
    switch (*byte) {
      case link::kAck:
      case link::kNak:
      case link::kRetry:
      case link::kAbort:
        return byte;
      case link::kStx:
      case link::kEtx:
      case link::kData:
        --inputPos_;  // the serving loop reads that packet
        return std::nullopt;
      case link::kSrq:
      case link::kSync:
        break;  // the driver repeats itself or has news; neither answers the packet
      default:
        bump(&BenchStats::strayBytes);
        break;
    }
  }
}

void BenchLink::sendSrqBurst(unsigned count) {
  if (count == 0) return;
  const Bytes burst(count, link::kSrq);
  send(burst.data(), burst.size());
  bump(&BenchStats::srqSent, count);
}

void BenchLink::flushQueuedSrq() { sendSrqBurst(srqQueued_.exchange(0)); }

// ---- The line ----

// Waits for `events` on the line (0: only for the deadline) and returns true when they come, false
// at the deadline. Queued SRQ bytes go out while the bench waits for input: it is then never in the
// middle of one of its own packets.
bool BenchLink::waitFor(short events, Clock::time_point deadline) {
  for (;;) {
    if ((events & POLLIN) && srqQueued_ > 0) flushQueuedSrq();
    timespec timeout{};
    if (deadline != kNoDeadline) {
      const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::ppoll(fds, 2, deadline == kNoDeadline ? nullptr : &timeout, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw LineLost{};
    }
    if (stopping_) throw Stopped{};
    if (fds[1].revents & POLLIN) {
      std::uint64_t wakes;
      [[maybe_unused]] const ssize_t ignored = ::read(wakeFd_, &wakes, sizeof wakes);
    }
    if (fds[0].revents & events) return true;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) throw LineLost{};
    if (ready == 0) return false;
  }
}

bool BenchLink::fillInput(Clock::time_point deadline) {
  for (;;) {
    const ssize_t got = ::read(fd_, input_.data(), input_.size());
    if (got > 0) {
      inputPos_ = 0;
      inputEnd_ = static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) throw LineLost{};
    if (!waitFor(POLLIN, deadline)) return false;
  }
}

std::optional<std::uint8_t> BenchLink::readByte(Clock::time_point deadline) {
  if (inputPos_ == inputEnd_ && !fillInput(deadline)) return std::nullopt;
  return input_[inputPos_++];
}

// Every byte the bench puts on the line passes here, so pacing lives in one place. Paced, each byte
// is released when a UART would have finished shifting it out (10 bits at the baud rate); the
// deadlines are absolute, so a late wake-up releases every byte due and never lowers the rate.
void BenchLink::send(const std::uint8_t* bytes, std::size_t count) {
  if (byteTime_ == Clock::duration::zero()) return writeAll(bytes, count);
  lineFreeAt_ = std::max(lineFreeAt_, Clock::now());  // an idle line banks no time
  while (count > 0) {
    lineFreeAt_ += byteTime_;
    waitFor(0, lineFreeAt_);
    std::size_t due = 1;
    for (const auto now = Clock::now(); due < count && lineFreeAt_ + byteTime_ <= now; ++due)
      lineFreeAt_ += byteTime_;
    writeAll(bytes, due);
    bytes += due;
    count -= due;
  }
}

void BenchLink::writeAll(const std::uint8_t* bytes, std::size_t count) {
  const auto deadline = Clock::now() + options_.answerTimeout;
  while (count > 0) {
    const ssize_t put = ::write(fd_, bytes, count);
    if (put > 0) {
      bytes += put;
      count -= static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) throw LineLost{};
    if (!waitFor(POLLOUT, deadline)) throw OutputStalled{};
  }
}

}  // namespace dorvane::sim
