// The serial port as the link sees it: opening and closing, sending and receiving bytes within the
// link's time limits, and the ComPort scope that the exports hold around one call.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/serial_port.h"
#include "runtime/log_file.h"

namespace dorvane::link {

// What every link operation works with: the serial layer, the tick count that measures its time
// limits, and the driver's log. A link given a stop (the acquisition's kill) gives up a reply at
// the next packet boundary once it is set, with ABORT, so the bench stops sending.
struct LinkServices {
  platform::SerialLibrary& serial;
  platform::Clock& clock;
  runtime::LogFile& log;
  const platform::Event* stop = nullptr;
  // ABORTs that went out on this link: a caller that ends a failed exchange with an ABORT of its
  // own sends it only when the layers below have not, so the bench hears one per failure.
  std::uint32_t abortsSent = 0;

  bool stopRequested() const { return stop != nullptr && stop->isSet(); }
};

// Opens the port: line format, baud, 1024-byte queues, hardware handshake and time-outs. Returns 0,
// or the negative code of the serial call that failed (the port may then be left open).
std::int32_t openPort(LinkServices& link, std::int32_t port, std::int32_t baud);
void closePort(LinkServices& link, std::int32_t port);

// Writes `code` into the error word and logs "setting error to %d %X".
void setError(LinkServices& link, std::int32_t& benchError, std::int32_t code);

// Sends one byte. 1 when sent; otherwise 0, with the serial layer's status in the error word.
std::int32_t txChar(LinkServices& link, std::int32_t port, std::uint8_t byte, std::int32_t& benchError);
// Sends a block. 1 when the serial layer took every byte; 0 otherwise (the error word is untouched).
std::int32_t txBytes(LinkServices& link, std::int32_t port, const std::uint8_t* bytes, std::int32_t count);

// Waits up to limit x 2000 ms for a byte other than SYNC: the byte (0 to 255), or -1 with
// timeoutFlag 1 when the time ran out.
std::int32_t rxChar(LinkServices& link, std::int32_t port, std::uint16_t limit, std::uint16_t& timeoutFlag);
// rxChar for the first byte of a packet: it also gives up, with -1 and timeoutFlag 0, once the
// link's stop is set.
std::int32_t rxPacketStart(LinkServices& link, std::int32_t port, std::uint16_t limit, std::uint16_t& timeoutFlag);
// Waits up to limit x 1000 ms for `count` bytes and reads them. 1 when read; -1 with timeoutFlag 1
// on a time-out; 0 when the read failed (the error word then says why).
std::int32_t rxBytes(LinkServices& link, std::int32_t port, std::uint8_t* buffer, std::int32_t count,
                     std::uint16_t limit, std::uint16_t& timeoutFlag, std::int32_t& benchError);

// Throws away what the bench sends until the line has been quiet for `quietMs` (or `mostMs` have
// passed): after an ABORT, the rest of a packet already on its way is stale.
void drainLine(LinkServices& link, std::int32_t port, std::uint32_t quietMs, std::uint32_t mostMs);

// The port held open for the length of one export call. The opening and the closing are logged;
// the port is closed on exit only when it opened.
class ComPort {
 public:
  ComPort(LinkServices& link, std::int32_t port, std::int32_t baud);
  ~ComPort();
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;

  bool valid() const { return openResult_ == 0; }
  // 0, or the serial layer's negative code that the export returns at once.
  std::int32_t openResult() const { return openResult_; }

 private:
  LinkServices& link_;
  std::int32_t port_;
  std::int32_t openResult_;
};

}  // namespace dorvane::link
