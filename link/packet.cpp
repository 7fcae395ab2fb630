// txPacket: the acknowledged send of one packet.
#include "link/packet.h"

#include "link/result_codes.h"
#include "link/wire.h"

namespace dorvane::link {

std::int32_t txPacket(LinkServices& link, std::int32_t port, const std::uint8_t* packet, std::int32_t length,
                      std::uint16_t& srqCount, std::int32_t& benchError) {
  runtime::LogFile& log = link.log;
  std::uint16_t timeOutCnt = 0;   // time-outs since the packet last went out
  std::uint16_t nakCount = 0;
  std::uint16_t timeoutPending = 0;
  // Measured from the last byte that was not an SRQ, so time spent on NAKs never counts against it.
  platform::Deadline srqPatience(link.clock, kSrqPatienceMs);

  log.print("dorvane.dll.txPacket");
  if (txBytes(link, port, packet, length) != 1) {
    log.print("    txPacket => txBytes failed %d", link.serial.lastSystemError());
    return 0;
  }

  for (;;) {
    log.print("txPacket REREAD");
    if (timeoutPending != 0) {
      timeoutPending = 0;
      log.print("txPacket: timeOutCnt = %d", timeOutCnt);
      if (timeOutCnt++ >= 2) {
        log.print("txPacket too many timeouts");
        if (txChar(link, port, kAbort, benchError) != 1) return 0;
        link.serial.clearReceiveQueue(port);
        return kLinkGaveUp;
      }
      log.print("txPacket sending SYNC_1");
      if (txChar(link, port, kSync, benchError) != 1) return 0;
    }

    log.print("txPacket calling rxChar");
    const std::int32_t answer = rxChar(link, port, 1, timeoutPending);
    if (answer < 0) {
      log.print("    txPacket timedout getting response");
      continue;
    }
    if (answer != kSrq) srqPatience.restart();
    switch (answer) {
      case kSrq:
        log.print("    txPacket got a SRQ");
        ++srqCount;
        if (srqPatience.passed()) timeoutPending = 1;
        break;
      case kAck:
        log.print("    txPacket got an ACK");
        return 1;
      case kNak:
        log.print("    txPacket got a NAK");
        // Ten transmissions at most: the first and one after each of nine NAKs.
        if (nakCount++ > 8) {
          benchError = kErrorNakLimit;
          return 0;
        }
        log.print("txPacket go to RETRAN");
        timeOutCnt = 0;
        if (txBytes(link, port, packet, length) != 1) {
          log.print("    txPacket => txBytes failed %d", link.serial.lastSystemError());
          return 0;
        }
        break;
      case kAbort:
        log.print("    txPacket got a ABORT");
        return kLinkAborted;
      case kRetry:
        log.print("    txPacket got a RETRY");
        return kLinkRetry;
      default:
        // An answer the link does not know counts like silence; whatever follows it is stale.
        log.print("    txPacket got a ??? 0x%02x", static_cast<unsigned>(answer));
        timeoutPending = 1;
        link.serial.clearReceiveQueue(port);
        break;
    }
  }
}

}  // namespace dorvane::link
