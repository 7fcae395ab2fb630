// The packet layer: one packet out, the bench's one-byte answer back, with retransmission after a
// NAK, a SYNC after silence and fixed numbers of attempts.
#pragma once

#include <cstdint>

#include "link/com_port.h"

namespace dorvane::link {

// SRQ bytes keep a wait for an answer going, but a bench that sends nothing else for this long
// (since its last other byte) would keep the driver waiting forever: from then on each SRQ counts
// as a time-out.
inline constexpr std::uint32_t kSrqPatienceMs = 10000;

// Sends one packet and waits for its answer. 1 ACK; 0 a send failed or ten NAKs (error word -4);
// -1 three time-outs or unrecognised answers, after ABORT; -2 the bench asked for the whole
// message again (RETRY); -3 the bench answered ABORT.
std::int32_t txPacket(LinkServices& link, std::int32_t port, const std::uint8_t* packet, std::int32_t length,
                      std::uint16_t& srqCount, std::int32_t& benchError);

}  // namespace dorvane::link
