// The tests' driver end of the pseudo-terminal.
#include "tests/sim/driver_end.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>


namespace dorvane::sim::testing {

DriverEnd::DriverEnd(const std::string& path, bool raw) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
  if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  termios mode{};
  if (raw && ::tcgetattr(fd_, &mode) == 0) {
    ::cfmakeraw(&mode);
    ::tcsetattr(fd_, TCSANOW, &mode);
  }
  ::tcflush(fd_, TCIOFLUSH);
}

DriverEnd::~DriverEnd() { ::close(fd_); }

void DriverEnd::send(const Bytes& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (put <= 0) throw std::runtime_error("write to the bench failed");
    done += static_cast<std::size_t>(put);
  }
}

std::optional<std::uint8_t> DriverEnd::readByte() {
  pollfd p{fd_, POLLIN, 0};
  std::uint8_t byte;
  if (::poll(&p, 1, 60000) != 1 || ::read(fd_, &byte, 1) != 1) return std::nullopt;
  return byte;
}

Bytes DriverEnd::readPacket() {
  auto first = readByte();
  for (; first && (*first == link::kSrq || *first == link::kSync); first = readByte())
    srqSeen += *first == link::kSrq;
  lastEvent_ = link::DecodeEvent::needMore;
  if (!first) return {};
  // The packet's bytes as they came, for the tests to look at; the decoder says where it ends.
  Bytes packet{*first};
  decoder_.reset();
  for (lastEvent_ = decoder_.feed(*first); lastEvent_ == link::DecodeEvent::needMore;) {
    const auto next = readByte();
    if (!next) break;
    packet.push_back(*next);
    lastEvent_ = decoder_.feed(*next);
  }
  return packet;
}

std::optional<std::uint8_t> DriverEnd::readAnswer() {
  for (auto b = readByte(); b; b = readByte()) {
    if (*b == link::kSrq) ++srqSeen;
    else if (*b != link::kSync) return b;
  }
  return std::nullopt;
}

bool DriverEnd::sendMessage(const Bytes& message) {
  const auto packets = packetsOf(message);
  for (std::size_t next = 0; next < packets.size();) {
    send(packets[next]);
    auto answer = readAnswer();
    while (answer && *answer == 0x41) {  // garbled: ask for it again
      send({link::kSync});
      answer = readAnswer();
    }
    if (!answer || *answer == link::kAbort) return false;
    if (*answer == link::kAck) ++next;
    if (*answer == link::kRetry) next = 0;
  }
  return true;
}

std::optional<Bytes> DriverEnd::receiveMessage() {
  Bytes message;
  std::uint16_t expected = 0;
  for (;;) {
    const Bytes packet = readPacket();
    if (packet.empty() || lastEvent_ == link::DecodeEvent::strayByte) return std::nullopt;  // silence or noise
    if (lastEvent_ != link::DecodeEvent::packet) {  // damaged or cut short
      send({link::kNak});
      continue;
    }
    send({link::kAck});
    const link::DecodedPacket& decoded = decoder_.packet();
    if (decoded.type == link::kEtx) return message;
    if (decoded.type == link::kStx) message.clear(), expected = 0;
    if (decoded.type == link::kData && decoded.number == expected) {
      message.insert(message.end(), payload_.begin(), payload_.begin() + decoded.stored);
      ++expected;
    }
  }
}

}  // namespace dorvane::sim::testing
