// The driver's side of the line for the virtual bench's tests: the pty's slave worked with plain
// POSIX I/O, as the driver's serial layer works it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/packet_decoder.h"
#include "link/wire.h"
#include "tests/support/packets.h"

namespace dorvane::sim::testing {

using Bytes = std::vector<std::uint8_t>;

using dorvane::testing::checksumOk;
// A message as the driver puts it on the wire: STX, the data packets, ETX.
inline std::vector<Bytes> packetsOf(const Bytes& message) { return dorvane::testing::messagePackets(message); }

class DriverEnd {
 public:
  // `raw` false leaves the line discipline as the bench set it.
  explicit DriverEnd(const std::string& path, bool raw = true);
  ~DriverEnd();

  void send(const Bytes& bytes);
  // The next byte; nothing after a minute, a bound for a broken bench only (no test here waits for
  // the bench to stay silent: an SRQ asked for shows that nothing came before it).
  std::optional<std::uint8_t> readByte();
  // The next packet (or stray byte) from the bench, SRQ and SYNC before it skipped; empty on silence.
  Bytes readPacket();

  // The driver's own recovery: SYNC after a garbled answer, resends on NAK, the whole message on
  // RETRY; NAK for a damaged reply packet, repeated data packets skipped. Nothing on failure.
  bool sendMessage(const Bytes& message);
  std::optional<Bytes> receiveMessage();

  unsigned srqSeen = 0;

 private:
  std::optional<std::uint8_t> readAnswer();
  int fd_;
  Bytes payload_ = Bytes(65535 + link::kChecksumSize);  // a data packet's payload and checksum
  link::PacketDecoder decoder_{payload_.data(), payload_.size()};
  link::DecodeEvent lastEvent_ = link::DecodeEvent::needMore;  // how the last readPacket ended
};

}  // namespace dorvane::sim::testing
