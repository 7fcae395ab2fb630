// Every negative code of the driver in one table: the link's protocol outcomes, and the codes of
// the error word as the link, the bench requests and the driver write them. The numbers are the
// bench protocol's own (hosts and logs read them), so they never change; dorvane.h gives each its
// phrase.
#pragma once

#include <cstdint>

#include "dorvane.h"

namespace dorvane {

// Results of the link operations beside 1 (success) and 0 (failure).
inline constexpr std::int32_t kLinkGaveUp = -1;   // time-outs or unknown answers, after ABORT
inline constexpr std::int32_t kLinkRetry = -2;    // RETRY: the whole message again
inline constexpr std::int32_t kLinkAborted = -3;  // ABORT, received or sent

// Codes of the error word; 0 means none recorded. A block read maps the system's error flags to
// -8 to -15.
inline constexpr std::int32_t kErrorSetupSend = -2;     // TRANSMIT SETUP could not be sent
inline constexpr std::int32_t kErrorSetupReceive = -3;  // its reply could not be received
inline constexpr std::int32_t kErrorNakLimit = -4;      // ten NAKs to one packet
inline constexpr std::int32_t kErrorNoAnswer = -5;      // a packet unanswered, ABORT sent
inline constexpr std::int32_t kErrorBenchAborted = -6;  // the bench answered a packet with ABORT
inline constexpr std::int32_t kErrorSendFailed = -7;    // any other failed send of a message
inline constexpr std::int32_t kErrorReadOverflow = -8;
inline constexpr std::int32_t kErrorReadOverrun = -9;
inline constexpr std::int32_t kErrorReadParity = -10;
inline constexpr std::int32_t kErrorReadFraming = -11;
inline constexpr std::int32_t kErrorReadBreak = -12;
inline constexpr std::int32_t kErrorReadTransmitFull = -13;
inline constexpr std::int32_t kErrorReadMode = -14;
inline constexpr std::int32_t kErrorReadOther = -15;
inline constexpr std::int32_t kErrorReadNotOpen = -16;
inline constexpr std::int32_t kErrorReadBadPort = -17;
inline constexpr std::int32_t kErrorStatusReceive = -18;
inline constexpr std::int32_t kErrorBadCommand = -19;
inline constexpr std::int32_t kErrorCommErr = -20;
inline constexpr std::int32_t kErrorHardware = -21;
inline constexpr std::int32_t kErrorReInit = -22;
inline constexpr std::int32_t kErrorNoNewSrq = DORVANE_ERROR_NO_NEW_SRQ;
inline constexpr std::int32_t kErrorNullPointer = DORVANE_ERROR_NULL_POINTER;
// -25 to -27 are the serial layer's refusals of an opening, which openPort passes on unchanged.
inline constexpr std::int32_t kErrorBlockFailedScan = -28;
inline constexpr std::int32_t kErrorBlockFailedProcess = -29;
inline constexpr std::int32_t kErrorNoSuchBlock = DORVANE_ERROR_NO_SUCH_BLOCK;
inline constexpr std::int32_t kErrorPortBusy = DORVANE_ERROR_PORT_BUSY;

}  // namespace dorvane
