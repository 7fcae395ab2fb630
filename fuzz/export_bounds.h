// The longest each export may take in virtual time, whatever the bench sends, built from the limits
// of the link and the bench requests. The bench decides how many packets its replies hold, so a
// bound is a fixed part plus kPerPacketMs for each packet the driver accepted (each one it ACKed).
//
// The reasoning, from the bottom up (Q the SRQ patience, 10 s):
// - A wait for one byte ends within 2 s. An SRQ ends the wait but not the patience, which runs
//   from the bench's last other byte; the first SRQ after it counts as a time-out. So any stretch
//   that ends in a time-out, or in the answer, lasts at most Q + 2 s.
// - txPacket sends a packet at most 10 times (the first, then after each of 9 NAKs); after each
//   send it takes at most 3 stretches (the third time-out sends ABORT and gives up).
// - txMessage sends requests of at most one data packet (106 bytes at most, so 3 packets with the
//   STX and the ETX), and starts again on the bench's RETRY at most kMostMessageRestarts times.
// - rxPacket takes at most 3 problems with one packet (a time-out or a damaged packet: NAK, NAK,
//   then RETRY or ABORT), each after a stretch of SRQs, the header (1 s) and the body (2 s).
// - A reply is one rxPacket for each packet accepted, and at most two that fail (a RETRY restarts
//   the reply once, the next escalation ends it), and an ABORT's drain of 300 ms at most.
// - A wait for the bench asks its status at most kMostBusyPolls times, listening up to 4 s for an
//   SRQ after each when asked to.
// - START SCAN waits for its block at most kNewSrqPatienceMs, checked before each status request,
//   so the last request may start just before that time is up.
// - The shuttle and the beam mirror sleep kMirrorSettleMs before their wait; an acquisition polls
//   every kScanPollMs; spectrometer_stop sleeps 1 s once the thread has ended.
#pragma once

#include <cstdint>

#include "bench/accessories.h"
#include "bench/requests.h"
#include "driver/scan_thread.h"
#include "link/message.h"
#include "link/packet.h"

namespace dorvane::fuzz::bounds {

inline constexpr std::uint64_t kByteWaitMs = 2000;    // rxChar, limit 1
inline constexpr std::uint64_t kHeaderReadMs = 1000;  // rxBytes, limit 1
inline constexpr std::uint64_t kBodyReadMs = 2000;    // rxBytes, limit 2
inline constexpr std::uint64_t kSrqListenMs = 4000;   // rxChar, limit 2
inline constexpr std::uint64_t kStretchMs = link::kSrqPatienceMs + kByteWaitMs;

inline constexpr std::uint64_t kPacketSendMs = 10 * 3 * kStretchMs;
inline constexpr std::uint64_t kRequestSendMs = (link::kMostMessageRestarts + 1) * 3 * kPacketSendMs;
inline constexpr std::uint64_t kPerPacketMs = 3 * (kStretchMs + kHeaderReadMs + kBodyReadMs);
inline constexpr std::uint64_t kReplyMs = 2 * kPerPacketMs + link::kMostDrainAfterAbortMs;
// A request and its reply (the reply's accepted packets apart).
inline constexpr std::uint64_t kExchangeMs = kRequestSendMs + kReplyMs;
inline constexpr std::uint64_t waitForBenchMs(bool listen) {
  return bench::kMostBusyPolls * (kExchangeMs + (listen ? kSrqListenMs : 0));
}
inline constexpr std::uint64_t kStartScanMs = kRequestSendMs + kExchangeMs + bench::kNewSrqPatienceMs + kExchangeMs;

// The exports that talk to the bench, each with its own port.
inline constexpr std::uint64_t kOpenMs = kExchangeMs;                       // TRANSMIT SETUP
inline constexpr std::uint64_t kSetupTextMs = kExchangeMs;                  // getSetup
inline constexpr std::uint64_t kDataListMs = kExchangeMs;                   // getRemoteDataList: the status
// callInit: PUT SETUP, the wait for the bench, and with the log on the setup read again.
inline constexpr std::uint64_t kInitializeMs = kRequestSendMs + waitForBenchMs(true) + kExchangeMs;
// getRemoteData: the status, the setup, then the block's request and its reply.
inline constexpr std::uint64_t kRemoteDataMs = 2 * kExchangeMs + kRequestSendMs + kReplyMs;

// spectrometer_execute, by command.
inline constexpr std::uint64_t kFittedQueryMs = kExchangeMs;  // GET DEVICES
inline constexpr std::uint64_t kPositionedMoveMs =
    kExchangeMs + kRequestSendMs + bench::kMirrorSettleMs + waitForBenchMs(false);
inline constexpr std::uint64_t kIrisMoveMs = kExchangeMs + kRequestSendMs + waitForBenchMs(false);
inline constexpr std::uint64_t kResetMs = 2 * waitForBenchMs(false) + kRequestSendMs;
inline constexpr std::uint64_t kMotorMoveMs = 2 * waitForBenchMs(false) + kRequestSendMs + kExchangeMs;
inline constexpr std::uint64_t kMotorReadMs = waitForBenchMs(false) + kExchangeMs;

// From spectrometer_startCoadd to the return of spectrometer_stop, for one file whose thread is
// killed as it starts its request number `requests`: the setup read and callInit on the host's
// thread; then START SCAN, the polls, the file's retrieval, STOP SCAN with its wait, and stop's
// sleep. Each poll starts a request but one whose send the serial layer failed (the fake bench
// fails one call at most), so there are at most `requests` + 1 polls.
inline constexpr std::uint64_t acquisitionMs(std::uint64_t requests) {
  const std::uint64_t host = kExchangeMs + kInitializeMs;
  const std::uint64_t thread = kStartScanMs + (requests + 1) * (driver::kScanPollMs + kExchangeMs) +
                               kRequestSendMs + kReplyMs + kRequestSendMs + driver::kScanPollMs + waitForBenchMs(true);
  return host + thread + 1000;
}

}  // namespace dorvane::fuzz::bounds
