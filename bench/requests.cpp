// TRANSMIT SETUP, PUT SETUP, TRANSMIT STATUS, the wait for the bench, START SCAN, the scan-done
// poll and STOP SCAN.
#include "bench/requests.h"

#include "link/byte_order.h"
#include "link/message.h"
#include "link/wire.h"

namespace dorvane::bench {
namespace {

// The first stamp of the list once the bench has allocated it, within the new scan's patience.
// 1 when it is there; 0 when a status request failed or the link's stop was set; -1 when the
// patience ran out.
std::int32_t awaitAllocatedStamp(link::LinkServices& link, std::int32_t port, const platform::Deadline& patience,
                                 std::uint16_t& status, StatusTables& tables, std::int32_t& benchError) {
  while (tables.stamps[0] == kStampPending) {
    if (link.stopRequested()) return 0;
    if (patience.passed()) return -1;
    std::uint16_t srqFlag = 0;
    if (transmitStatus(link, port, status, srqFlag, tables, benchError) != 1) return 0;
  }
  return 1;
}

}  // namespace

std::int32_t transmitSetup(link::LinkServices& link, std::int32_t port, BenchSetup& destination,
                           std::int32_t& benchError) {
  destination.bytes.fill(0);
  std::uint16_t srqCount = 0;  // nobody reads this request's SRQ count
  link.log.print("sending TRANSMIT SETUP");
  if (link::txCommand(link, port, command::transmitSetup, srqCount, benchError) != 1) {
    if (benchError != 0) link::setError(link, benchError, kErrorSetupSend);
    return kErrorSetupSend;
  }
  std::int32_t length = 0;
  if (link::rxMessage(link, port, destination.bytes.data(), destination.bytes.size(), length, srqCount,
                      benchError) != 1) {
    link.log.print("rxMessage error %d", benchError);
    if (benchError != 0) link::setError(link, benchError, kErrorSetupReceive);
    return kErrorSetupReceive;
  }
  setupToHost(destination);
  return 0;
}

std::int32_t txSetup(link::LinkServices& link, std::int32_t port, ScanSettings& settings, std::uint16_t& srqCount,
                     std::int32_t& benchError) {
  link.log.print("dorvane.dll txSetup");
  settings.setCommand(command::putSetup);
  swapScanSettings(settings);
  const std::int32_t sent = link::txMessage(link, port, settings.bytes.data(),
                                            static_cast<std::uint16_t>(settings.bytes.size()), srqCount, benchError);
  swapScanSettings(settings);  // the caller's copy stays in host order whatever happened
  return sent == 1 ? 1 : 0;
}

std::int32_t transmitStatus(link::LinkServices& link, std::int32_t port, std::uint16_t& statusWord,
                            std::uint16_t& srqFlag, StatusTables& tables, std::int32_t& benchError) {
  link.log.print("sending TRANSMIT STATUS");
  if (link::txCommand(link, port, command::transmitStatus, srqFlag, benchError) != 1) return 0;

  link.log.print("Receiving STATUS");
  std::array<std::uint8_t, kStatusReplySize> reply{};  // a short reply reads zeros past its end
  std::int32_t length = 0;
  if (link::rxMessage(link, port, reply.data(), reply.size(), length, srqFlag, benchError) != 1) {
    // A reply cut short by the host's stop is no failure of the bench's.
    if (!link.stopRequested()) link::setError(link, benchError, kErrorStatusReceive);
    return 0;
  }

  statusWord = link::getBE16(reply.data());
  // Bytes 2-5 hold a value the driver has no use for.
  constexpr std::size_t kFirstEntry = 6;
  constexpr std::size_t kEntrySize = 6;
  // Whole entries only, and never more than the tables hold beside their terminator.
  std::size_t entries = 0;
  while (entries < kStatusEntries - 1 && kFirstEntry + (entries + 1) * kEntrySize <= std::size_t(length)) {
    const std::uint8_t* entry = reply.data() + kFirstEntry + entries * kEntrySize;
    tables.flags[entries] = link::getBE16(entry);
    tables.stamps[entries] = link::getBE32(entry + 2);
    ++entries;
  }
  tables.flags[entries] = 0;
  tables.stamps[entries] = 0;

  // The flag reports newSrq, whatever number of SRQ bytes the message layer counted into it.
  srqFlag = (statusWord & spec_stat::newSrq) != 0 ? 1 : 0;
  return 1;
}

std::int32_t waitForBench(link::LinkServices& link, std::int32_t port, std::uint16_t listenForSrq,
                          StatusTables& tables, std::int32_t& benchError) {
  std::uint16_t status = 0;
  std::uint16_t srqFlag = 0;
  for (int poll = 1;; ++poll) {
    if (transmitStatus(link, port, status, srqFlag, tables, benchError) != 1) return 0;
    const bool busy = (status & spec_stat::busy) != 0;
    if (!busy) return 1;
    if (listenForSrq != 0) waitForSrq(link, port);
    if (poll == kMostBusyPolls) return 0;
  }
}

std::int32_t waitForSrq(link::LinkServices& link, std::int32_t port) {
  std::uint16_t timeoutFlag = 0;
  return link::rxChar(link, port, 2, timeoutFlag) == link::kSrq ? 1 : 0;
}

std::uint32_t startScan(link::LinkServices& link, std::int32_t port, std::uint16_t scanMode, std::uint16_t& srqCount,
                        std::uint32_t startParameter, StatusTables& tables, std::int32_t& benchError) {
  if (scanMode >= kScanModeCodes.size()) {
    link.log.print("start scan: no scan mode %u", scanMode);
    return 0;
  }
  std::uint8_t message[8];
  link::putBE16(message, command::startScan);
  message[2] = static_cast<std::uint8_t>(data_def::requested >> 8);
  message[3] = kScanModeCodes[scanMode];
  link::putBE32(message + 4, startParameter);
  link.log.print("sending START SCAN");
  if (link::txMessage(link, port, message, sizeof message, srqCount, benchError) != 1) return 0;

  std::uint16_t status = 0;
  std::uint16_t srqFlag = 0;
  if (transmitStatus(link, port, status, srqFlag, tables, benchError) != 1) return 0;
  if ((status & spec_stat::badCommand) != 0) {
    benchError = kErrorBadCommand;
    link.log.print("start scan error %d %X", kErrorBadCommand, static_cast<unsigned>(kErrorBadCommand));
    return 0;
  }

  // The bench announces the new scan with newSrq and lists its block first, stamped once the block
  // is allocated. A bench that never does either must not hold the driver for ever, and the host's
  // stop ends either wait at once.
  const platform::Deadline patience(link.clock, kNewSrqPatienceMs);
  bool announced = srqFlag != 0;
  while (!announced && !patience.passed()) {
    if (link.stopRequested() || transmitStatus(link, port, status, srqFlag, tables, benchError) != 1) break;
    announced = srqFlag != 0;
  }
  if (announced && tables.stamps[0] != kStampPending) return tables.stamps[0];
  if (link.stopRequested()) return 0;

  const std::int32_t allocated =
      announced ? awaitAllocatedStamp(link, port, patience, status, tables, benchError) : -1;
  if (allocated == 0) return 0;
  if (allocated < 0) {
    benchError = kErrorNoNewSrq;
    link.log.print("start scan error %d", kErrorNoNewSrq);
    return 0;
  }

  std::int32_t code = 0;
  if ((status & spec_stat::commErr) != 0) {
    code = kErrorCommErr;
  } else if ((status & spec_stat::badCommand) != 0) {
    code = kErrorBadCommand;
  } else if ((status & spec_stat::hardwareError) != 0) {
    code = kErrorHardware;
  } else if ((status & spec_stat::reInit) != 0) {
    code = kErrorReInit;
  }
  if (code == 0) return tables.stamps[0];
  benchError = code;
  link.log.print("start scan error %d", code);
  return 0;
}

std::int32_t pollScanDone(link::LinkServices& link, std::int32_t port, std::uint32_t stamp, StatusTables& tables,
                          std::int32_t& benchError) {
  std::uint16_t status = 0;
  std::uint16_t srqFlag = 0;
  if (transmitStatus(link, port, status, srqFlag, tables, benchError) != 1) return 0;

  // A stamp that is not listed lands on the terminator, whose flag word is 0.
  std::size_t entry = 0;
  while (tables.stamps[entry] != 0 && tables.stamps[entry] != stamp) ++entry;
  const std::uint16_t flags = tables.flags[entry];
  if ((flags & data_def::failedScan) != 0) {
    link::setError(link, benchError, kErrorBlockFailedScan);
    return -1;
  }
  if ((flags & data_def::failedProcess) != 0) {
    link::setError(link, benchError, kErrorBlockFailedProcess);
    return -1;
  }
  return (flags & data_def::done) != 0 ? 1 : 0;
}

std::int32_t stopScan(link::LinkServices& link, std::int32_t port, std::uint16_t& srqCount, std::int32_t& benchError) {
  link.log.print("sending STOP SCAN");
  return link::txCommand(link, port, command::stopScan, srqCount, benchError);
}

}  // namespace dorvane::bench
