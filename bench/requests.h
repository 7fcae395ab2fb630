// The bench requests that read and write the setup and run scans: one exchange each over the port
// that the caller has opened. 1 is success and 0 failure unless an operation says otherwise; the
// codes written into the error word are listed beside each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bench/setup_record.h"
#include "dorvane.h"
#include "link/com_port.h"
#include "link/result_codes.h"

namespace dorvane::bench {

// Command words, sent big-endian at the start of a message.
namespace command {
inline constexpr std::uint16_t startScan = 0x8081;
inline constexpr std::uint16_t dataRequest = 0x8082;
inline constexpr std::uint16_t stopScan = 0x8084;
inline constexpr std::uint16_t transmitStatus = 0x8088;
inline constexpr std::uint16_t transmitSetup = 0x8090;
inline constexpr std::uint16_t reset = 0x8180;
inline constexpr std::uint16_t putSetup = kPutSetupCommand;
inline constexpr std::uint16_t moveDevice = 0x8488;
inline constexpr std::uint16_t getDevices = 0x8489;
}  // namespace command

// A status reply: the status word, a 32-bit value, then 6 bytes per data block.
inline constexpr std::size_t kStatusReplySize = 1548;
inline constexpr std::size_t kStatusEntries = 256;  // 255 blocks and the all-zero terminator

// The bench's data blocks as the last status reply listed them: a flag word (in the data
// definition layout) and a stamp each, ended by an all-zero entry.
struct StatusTables {
  std::array<std::uint16_t, kStatusEntries> flags{};
  std::array<std::uint32_t, kStatusEntries> stamps{};
};

// Scan-mode codes of START SCAN, by scan mode 0-7.
inline constexpr std::array<std::uint8_t, 8> kScanModeCodes = {0x03, 0x02, 0x03, 0x01, 0x81, 0x00, 0x80, 0x00};
// The stamp that a block reads while the bench is still allocating it.
inline constexpr std::uint32_t kStampPending = 0xFFFFFFFF;
// How long START SCAN waits for the bench to announce the new scan (newSrq).
inline constexpr std::uint32_t kNewSrqPatienceMs = 30000;
// Status requests of one wait for the bench.
inline constexpr int kMostBusyPolls = 31;

// TRANSMIT SETUP into `destination` (cleared first), converted to host order. 0 on success; -2
// when sending failed, -3 when receiving failed (written into the error word only when a lower
// layer had written a code).
std::int32_t transmitSetup(link::LinkServices& link, std::int32_t port, BenchSetup& destination,
                           std::int32_t& benchError);

// PUT SETUP: sends the scan settings in wire order; they are back in host order, with the command
// word set, whatever the send did.
std::int32_t txSetup(link::LinkServices& link, std::int32_t port, ScanSettings& settings, std::uint16_t& srqCount,
                     std::int32_t& benchError);

// TRANSMIT STATUS: the status word into `statusWord`, the block list into `tables`, and newSrq into
// `srqFlag` (which also serves as the message layer's SRQ counter). -18 when the reply fails.
std::int32_t transmitStatus(link::LinkServices& link, std::int32_t port, std::uint16_t& statusWord,
                            std::uint16_t& srqFlag, StatusTables& tables, std::int32_t& benchError);

// Polls the status until the bench is not busy, at most 31 times; with `listenForSrq`, waits up to
// 4000 ms for an SRQ after each busy reply. 1 when the bench reported not busy.
std::int32_t waitForBench(link::LinkServices& link, std::int32_t port, std::uint16_t listenForSrq,
                          StatusTables& tables, std::int32_t& benchError);

// 1 when the next byte from the bench, within 4000 ms, is SRQ.
std::int32_t waitForSrq(link::LinkServices& link, std::int32_t port);

// START SCAN: the stamp of the block the new scan fills, or 0. -19, -20, -21, -22 from the status
// word; -23 when newSrq does not come within 30 s or a status request fails while waiting for it.
// The link's stop ends the waits with 0 and no code.
std::uint32_t startScan(link::LinkServices& link, std::int32_t port, std::uint16_t scanMode, std::uint16_t& srqCount,
                        std::uint32_t startParameter, StatusTables& tables, std::int32_t& benchError);

// 1 when the block with `stamp` is done, 0 when not (or not listed, or the status failed); -1 when
// the bench reports the block failed, with -28 or -29 in the error word.
std::int32_t pollScanDone(link::LinkServices& link, std::int32_t port, std::uint32_t stamp, StatusTables& tables,
                          std::int32_t& benchError);

// STOP SCAN: the result of sending it.
std::int32_t stopScan(link::LinkServices& link, std::int32_t port, std::uint16_t& srqCount, std::int32_t& benchError);

}  // namespace dorvane::bench
