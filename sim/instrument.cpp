// The virtual bench's behaviour: one function per command, the timed events that follow them
// (allocation, scan end, busy end) and the records the bench keeps.
#include "sim/instrument.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "bench/retrieval.h"
#include "link/byte_order.h"

namespace dorvane::sim {
namespace {

namespace field = bench::field;
namespace spec_stat = bench::spec_stat;
namespace data_def = bench::data_def;

constexpr std::size_t kStatusEntrySize = 6;  // a block's flag word and stamp
// The device reply: the device mask, then a position for each of 32 devices.
constexpr std::size_t kDeviceWords = bench::kDeviceReplyWords;
// A status reply must stay one message: its leading word, specStat, free memory and the entries.
constexpr std::size_t kMostBlocks = (65535 - 8) / kStatusEntrySize;

// Each command's message length; a request of another length is a bad command.
constexpr std::pair<std::uint16_t, std::size_t> kCommandLengths[] = {
    {command::startScan, 8},      {command::dataRequest, 6}, {command::stopScan, 2},
    {command::transmitStatus, 2}, {command::transmitSetup, 2}, {command::reset, 2},
    {command::putSetup, 2 + bench::kSetupRecordSize},          {command::moveDevice, 14},
    {command::getDevices, 2},
};

// What PUT SETUP changes. The bench keeps its own serial number, memory layout and tail, and
// reports its status itself.
constexpr bench::SetupField kFieldsPutSetupSets[] = {
    // What to scan and where to keep it.
    field::dataDef, field::sampScans, field::bkgScans, field::dataPoints, field::requestedPoints,
    field::pointsPow2, field::dataStart, field::dataEnd, field::primaryZpd, field::numDataBlocks,
    // How to scan: converter, velocities, servo and gain, filters, laser sampling, iris, turn-arounds.
    field::adcStatus, field::forwardSpeed, field::reverseSpeed, field::forwardServoAnalog,
    field::reverseServoAnalog, field::filterSelect, field::laserSamp, field::iris, field::shortTurn,
    field::quickTurn,
};

// The serial number's first two bytes for each identity; the driver decodes them back.
struct SerialPrefix {
  BenchIdentity identity;
  std::uint8_t first;
  std::uint8_t second;
};
constexpr SerialPrefix kSerialPrefixes[] = {
    {{9, 60}, 'A', '1'},  {{9, 61}, 'B', '1'}, {{9, 62}, 'C', '1'}, {{10, 61}, 'G', '1'},
    {{11, 1}, 'J', '1'},  {{13, 1}, 'X', '1'}, {{14, 1}, 'Y', '1'}, {{15, 1}, 'Z', 0xA1},
    {{7, 32}, 'd', '1'},  {{8, 51}, 'e', '1'}, {{8, 53}, 'f', '1'}, {{8, 52}, 'l', '1'},
};

std::uint32_t serialNumberFor(BenchIdentity identity, std::uint16_t unitNumber) {
  for (const SerialPrefix& prefix : kSerialPrefixes) {
    if (prefix.identity == identity)
      return (std::uint32_t{prefix.first} << 24) | (std::uint32_t{prefix.second} << 16) | unitNumber;
  }
  throw std::invalid_argument("no bench has family " + std::to_string(identity.family) + " model " +
                              std::to_string(identity.model));
}

// Setup fields are kept as they travel: big-endian.
std::uint32_t getField(const std::uint8_t* record, bench::SetupField f) {
  const std::uint8_t* at = record + f.offset;
  if (f.size == 1) return *at;
  return f.size == 2 ? link::getBE16(at) : link::getBE32(at);
}

void putField(std::uint8_t* record, bench::SetupField f, std::uint32_t value) {
  std::uint8_t* at = record + f.offset;
  if (f.size == 1)
    *at = static_cast<std::uint8_t>(value);
  else if (f.size == 2)
    link::putBE16(at, static_cast<std::uint16_t>(value));
  else
    link::putBE32(at, value);
}

// What one block takes of the bench's memory.
std::uint64_t blockBytes(std::uint32_t points, std::uint16_t sizeDataBlock) {
  return std::uint64_t{points} * 4 + sizeDataBlock;
}

// A reply: the command word it answers, then room for `body` bytes to be appended.
std::vector<std::uint8_t> replyTo(std::uint16_t command, std::size_t body) {
  std::vector<std::uint8_t> reply(2);
  reply.reserve(2 + body);
  link::putBE16(reply.data(), command);
  return reply;
}

void appendBE16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.resize(out.size() + 2);
  link::putBE16(out.data() + out.size() - 2, value);
}

void appendBE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.resize(out.size() + 4);
  link::putBE32(out.data() + out.size() - 4, value);
}

// The point size as the data header's byte 33 tells it, in bits 3 and 4.
std::uint8_t pointSizeBits(unsigned bytes) { return bytes == 2 ? 0x00 : bytes == 3 ? 0x08 : 0x10; }

std::array<std::uint8_t, bench::kBenchSetupSize> powerOnSetupFor(const InstrumentOptions& options) {
  std::array<std::uint8_t, bench::kBenchSetupSize> setup{};
  std::uint8_t* record = setup.data();
  const std::uint32_t requested = options.dataPoints > 64 ? options.dataPoints - 64 : options.dataPoints;
  putField(record, field::serialNumber, serialNumberFor(options.identity, options.unitNumber));
  putField(record, field::sampScans, options.sampScans);
  putField(record, field::bkgScans, options.sampScans);
  // The time a scan takes, in ms: how a host can tell how long a file will take.
  putField(record, field::scanTime, static_cast<std::uint32_t>(options.perScan.count()));
  putField(record, field::dataPoints, options.dataPoints);
  putField(record, field::requestedPoints, requested);
  putField(record, field::pointsPow2, std::bit_ceil(requested));
  putField(record, field::dataEnd, options.dataPoints - 1);
  putField(record, field::adcStatus, 0x51);
  putField(record, field::totalDataSpace, options.totalDataSpace);
  putField(record, field::sizeDataBlock, options.sizeDataBlock);
  putField(record, field::adcVolts, options.adcVolts);
  return setup;
}

}  // namespace

bool isBenchIdentity(BenchIdentity identity) {
  return std::any_of(std::begin(kSerialPrefixes), std::end(kSerialPrefixes),
                     [&](const SerialPrefix& prefix) { return prefix.identity == identity; });
}

Instrument::Instrument(int fd, InstrumentOptions options, BenchLinkOptions linkOptions)
    : options_(options),
      powerOnSetup_(powerOnSetupFor(options)),
      setup_(powerOnSetup_),
      random_(options.seed),
      link_(fd, [this](const Bytes& request) { return handle(request); }, linkOptions) {
  clock_ = std::thread([this] { runClock(); });
}

Instrument::~Instrument() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  clockWake_.notify_all();
  clock_.join();
}

void Instrument::troubleNextScan(ScanTrouble trouble) {
  std::lock_guard lock(mutex_);
  nextTrouble_ = trouble;
}

std::uint16_t Instrument::specStat() const {
  std::lock_guard lock(mutex_);
  return status();
}

std::uint32_t Instrument::setupField(bench::SetupField f) const {
  std::lock_guard lock(mutex_);
  return get(f);
}

std::vector<BlockInfo> Instrument::blocks() const {
  std::lock_guard lock(mutex_);
  std::vector<BlockInfo> list;
  for (const Block& block : blocks_) list.push_back(block.info);
  return list;
}

std::vector<std::uint32_t> Instrument::blockCounts(std::uint32_t stamp) const {
  std::lock_guard lock(mutex_);
  const Block* block = findBlock(stamp);
  return block ? block->counts : std::vector<std::uint32_t>{};
}

std::int32_t Instrument::devicePosition(unsigned device) const {
  std::lock_guard lock(mutex_);
  return device < positions_.size() ? positionOf(device) : 0;
}

// ---- Requests ----

std::optional<Reply> Instrument::handle(const Bytes& request) {
  std::lock_guard lock(mutex_);
  advance(Clock::now());
  const std::uint16_t word = request.size() >= 2 ? link::getBE16(request.data()) : 0;
  const auto known = std::find_if(std::begin(kCommandLengths), std::end(kCommandLengths),
                                  [&](const auto& entry) { return entry.first == word; });
  if (known == std::end(kCommandLengths) || known->second != request.size()) {
    badCommand();
    return std::nullopt;
  }

  std::optional<Reply> reply;
  switch (word) {
    case command::transmitSetup: reply = transmitSetup(); break;
    case command::putSetup: putSetup(request); break;
    case command::transmitStatus: reply = transmitStatus(); break;
    case command::startScan: startScan(request); break;
    case command::stopScan: stopScan(); break;
    case command::dataRequest: reply = transmitData(request); break;
    case command::getDevices: reply = getDevices(); break;
    case command::moveDevice: moveDevice(request); break;
    case command::reset: reset(); break;
  }
  // An event due at once (no allocation time, no scans) happens before the next request.
  advance(Clock::now());
  clockWake_.notify_all();
  return reply;
}

// The setup record and its tail, with the status as it stands.
std::optional<Reply> Instrument::transmitSetup() {
  Bytes reply = replyTo(command::transmitSetup, setup_.size());
  const std::size_t at = reply.size();
  reply.insert(reply.end(), setup_.begin(), setup_.end());
  link::putBE16(reply.data() + at + field::specStat.offset, status());
  return reply;
}

// The bench takes the scan settings it can run; it refuses them while it scans or when one block
// of that size would not fit its memory. Then it is busy a while setting itself up.
void Instrument::putSetup(const Bytes& request) {
  const std::uint8_t* settings = request.data() + 2;
  const std::uint32_t points = getField(settings, field::dataPoints);
  if (scan_ || points == 0 || blockBytes(points, options_.sizeDataBlock) > options_.totalDataSpace) {
    badCommand();
    return;
  }
  for (const bench::SetupField& f : kFieldsPutSetupSets)
    std::memcpy(setup_.data() + f.offset, settings + f.offset, f.size);
  while (blocks_.size() > blockCapacity()) blocks_.pop_back();
  becomeBusy(options_.setupBusy);
}

// specStat, the free memory and the blocks newest first. The one-time status bits have now been
// reported.
std::optional<Reply> Instrument::transmitStatus() {
  Bytes reply = replyTo(command::transmitStatus, 6 + blocks_.size() * kStatusEntrySize);
  appendBE16(reply, status());
  appendBE32(reply, freeMemory());
  for (const Block& block : blocks_) {
    appendBE16(reply, block.info.flags);
    appendBE32(reply, block.info.stamp);
  }
  unreported_ = 0;
  return reply;
}

// A new block at the head of memory, the oldest given up when memory is full, and a scan into it.
// Bytes 2-3 of the request are the block's dataDef word; its high byte asks for SRQ bytes as the
// setup's does.
void Instrument::startScan(const Bytes& request) {
  if (scan_) {
    badCommand();
    return;
  }
  const std::uint16_t dataDef = link::getBE16(request.data() + 2);
  const auto flags =
      static_cast<std::uint16_t>(dataDef & ~(data_def::done | data_def::failedScan | data_def::failedProcess |
                                             data_def::forceMemRealloc));
  // A background block (the sample bit) co-adds bkgScans, any other sampScans.
  const bench::SetupField scansField = (flags & data_def::sample) ? field::bkgScans : field::sampScans;
  const auto scans = static_cast<std::uint16_t>(get(scansField));
  const std::uint32_t points = get(field::dataPoints);

  Block block{{kAllocating, flags, scans, points, pointSizeFor(options_.pointSize, scans)},
              Bytes(setup_.begin(), setup_.begin() + bench::kDataHeaderSize),
              {}};
  while (!blocks_.empty() && blocks_.size() >= blockCapacity()) blocks_.pop_back();
  blocks_.push_front(std::move(block));

  const auto now = Clock::now();
  const auto srqWanted = static_cast<std::uint16_t>(get(field::dataDef) | dataDef);
  Scan scan{now + options_.allocation, std::nullopt, srqWanted, std::exchange(nextTrouble_, ScanTrouble::None),
            opticsNow()};
  if (scan.trouble != ScanTrouble::NeverFinishes) scan.endsAt = scan.allocatedAt + scans * options_.perScan;
  if (scan.optics.inBeam == Sample::CarbonDioxideCell) {
    if (!cellFillingSince_) cellFillingSince_ = now;
    const auto midway = scan.allocatedAt + scans * options_.perScan / 2;
    scan.optics.cellFillStep = cellFillStep(midway - *cellFillingSince_, options_.fillTime);
  }
  scan_ = scan;
  if (scan.srqWanted & data_def::startScanSRQ) raiseSrq();
}

// The scan ends where it is: the block is not done. An SRQ when the scan asked for one on abort.
void Instrument::stopScan() {
  if (!scan_) return;
  if (blocks_.front().info.stamp == kAllocating) finishAllocation();
  const bool srq = scan_->srqWanted & data_def::abortScanSRQ;
  scan_.reset();
  if (srq) raiseSrq();
}

// A finished block: packet 0 carries the leading word and the data header, the other packets the
// points. A bench holding no finished block of that stamp refuses with ABORT in place of the reply.
std::optional<Reply> Instrument::transmitData(const Bytes& request) {
  const Block* block = findBlock(link::getBE32(request.data() + 2));
  if (!block || block->counts.empty()) return Reply::refusal();

  const BlockInfo& info = block->info;
  if (options_.onBlock) options_.onBlock(BlockEvent::DataAsked, info);
  Bytes reply = replyTo(command::dataRequest, bench::kDataHeaderSize + std::size_t{info.points} * info.pointSize);
  const std::size_t at = reply.size();
  reply.insert(reply.end(), block->header.begin(), block->header.end());
  std::uint8_t* header = reply.data() + at;
  putField(header, field::dataDef, info.flags);
  putField(header, field::sampScans, info.scans);
  putField(header, field::scanDirection, pointSizeBits(info.pointSize));
  putField(header, field::dataStart, 0);
  putField(header, field::dataEnd, info.points - 1);
  const std::size_t firstPacket = reply.size();
  packPoints(block->counts, info.pointSize, reply);
  Reply data(std::move(reply), firstPacket);
  if (options_.onBlock) data.onSent = [onBlock = options_.onBlock, info] { onBlock(BlockEvent::DataSent, info); };
  return data;
}

// The device mask, then the position of each device by number.
std::optional<Reply> Instrument::getDevices() {
  Bytes reply = replyTo(command::getDevices, kDeviceWords * 4);
  appendBE32(reply, options_.deviceMask);
  for (unsigned n = 0; n + 1 < kDeviceWords; ++n) {
    const bool fitted = options_.deviceMask & (1u << n);
    appendBE32(reply, fitted ? static_cast<std::uint32_t>(positionOf(n)) : 0);
  }
  return reply;
}

// One fitted device, named by the only bit of the mask, moves as its parameters say; the bench is
// busy while it moves. Anything else is a bad command.
void Instrument::moveDevice(const Bytes& request) {
  const std::uint32_t mask = link::getBE32(request.data() + 2);
  const std::uint16_t first = link::getBE16(request.data() + 6);
  const std::uint16_t second = link::getBE16(request.data() + 8);
  const std::uint32_t parameter = link::getBE32(request.data() + 10);
  if (!std::has_single_bit(mask) || !(mask & options_.deviceMask)) {
    badCommand();
    return;
  }
  const auto n = static_cast<unsigned>(std::countr_zero(mask));
  if (n == device::iris && first == 3) {
    put(field::iris, second);  // the aperture × 100
  } else if ((n == device::shuttle || n == device::beamMirror) && parameter == 1) {
    positions_[n] = first;
  } else if ((n == device::firstMotor || n == device::secondMotor) && first == 3 && parameter == 2) {
    positions_[n] += static_cast<std::int16_t>(second);  // steps, either way
  } else {
    badCommand();
    return;
  }
  becomeBusy(options_.moveBusy);
}

// The bench starts again as at power-on: scan stopped, memory emptied, accessories home, its
// power-on setup, no status to report; busy a while.
void Instrument::reset() {
  scan_.reset();
  blocks_.clear();
  setup_ = powerOnSetup_;
  positions_ = {};
  unreported_ = 0;
  conditions_ = 0;
  nextTrouble_ = ScanTrouble::None;
  becomeBusy(options_.resetBusy);
}

// ---- Timed events ----

// Everything due by `now`, in the order it falls due.
void Instrument::advance(Clock::time_point now) {
  if (scan_ && blocks_.front().info.stamp == kAllocating && now >= scan_->allocatedAt) finishAllocation();
  if (scan_ && scan_->endsAt && now >= *scan_->endsAt) finishScan();
  if (busyUntil_ && now >= *busyUntil_) {
    busyUntil_.reset();
    raiseSrq();
  }
}

// The block has its memory and its stamp; trouble in the hardware shows now.
void Instrument::finishAllocation() {
  blocks_.front().info.stamp = newStamp();
  switch (scan_->trouble) {
    case ScanTrouble::HardwareError: conditions_ |= spec_stat::hardwareError; break;
    case ScanTrouble::CommError: unreported_ |= spec_stat::commErr; break;
    case ScanTrouble::ReInit: unreported_ |= spec_stat::reInit; break;
    default: break;
  }
}

// The last scan is in: the block is done with its co-added counts, or failed without data.
void Instrument::finishScan() {
  Block& block = blocks_.front();
  if (scan_->trouble == ScanTrouble::FailedScan) {
    block.info.flags |= data_def::failedScan;
  } else if (scan_->trouble == ScanTrouble::FailedProcess) {
    block.info.flags |= data_def::failedProcess;
  } else {
    block.counts = coAdd(cleanScans_.get(block.info.points, scan_->optics), block.info.scans,
                         largestCount(block.info.pointSize), random_, scan_->optics.faults.noiseFactor);
    block.info.flags |= data_def::done;
  }
  block.info.finishedAt = Clock::now();
  if (options_.onBlock) options_.onBlock(BlockEvent::ScanEnded, block.info);
  const bool srq = scan_->srqWanted & data_def::endScanSRQ;
  scan_.reset();
  if (srq) raiseSrq();
}

std::optional<Instrument::Clock::time_point> Instrument::nextEvent() const {
  std::optional<Clock::time_point> next = busyUntil_;
  auto consider = [&](Clock::time_point at) { next = next ? std::min(*next, at) : at; };
  if (scan_ && blocks_.front().info.stamp == kAllocating) consider(scan_->allocatedAt);
  if (scan_ && scan_->endsAt) consider(*scan_->endsAt);
  return next;
}

// The bench's clock: it acts on each timed event when it falls due, whether or not the driver asks.
void Instrument::runClock() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    advance(Clock::now());
    if (const auto next = nextEvent())
      clockWake_.wait_until(lock, *next);
    else
      clockWake_.wait(lock);
  }
}

// ---- The bench's own records ----

void Instrument::raiseSrq() {
  link_.sendSrq(1);
  if (options_.reportsNewSrq) unreported_ |= spec_stat::newSrq;
}

void Instrument::becomeBusy(std::chrono::milliseconds time) {
  const auto until = Clock::now() + time;
  busyUntil_ = busyUntil_ ? std::max(*busyUntil_, until) : until;
}

std::uint16_t Instrument::status() const {
  const bool busy = scan_ || busyUntil_;
  return static_cast<std::uint16_t>(unreported_ | conditions_ | (busy ? spec_stat::busy : 0));
}

// As many blocks as PUT SETUP asked for, or else as fit the memory at the present points per scan.
std::size_t Instrument::blockCapacity() const {
  const std::uint64_t block = blockBytes(get(field::dataPoints), options_.sizeDataBlock);
  const std::uint64_t fit = options_.totalDataSpace / block;
  const std::uint32_t asked = get(field::numDataBlocks);
  const std::uint64_t capacity = asked != 0 ? std::min<std::uint64_t>(asked, fit) : fit;
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(capacity, 1, kMostBlocks));
}

std::uint32_t Instrument::freeMemory() const {
  std::uint64_t used = 0;
  for (const Block& block : blocks_) used += blockBytes(block.info.points, options_.sizeDataBlock);
  const std::uint64_t total = options_.totalDataSpace;
  return static_cast<std::uint32_t>(total - std::min(used, total));
}

// Hundredths of a second since the start of the year (UTC) by the bench's clock; a stamp that
// would repeat or go back (a new year) moves on from the last one instead, so stamps stay unique.
std::uint32_t Instrument::newStamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const sys_days newYear{year_month_day{floor<days>(now)}.year() / January / 1};
  const auto hundredths = duration_cast<duration<std::int64_t, std::centi>>(now - newYear).count();
  lastStamp_ = std::max(static_cast<std::uint32_t>(hundredths), lastStamp_ + 1);
  return lastStamp_;
}

// The sampling and symmetry of the setup, and the sample unless the shuttle holds it out of the beam.
ScanOptics Instrument::opticsNow() const {
  constexpr std::int32_t kOpenBeam = 2;  // the shuttle's position with the sample out of the beam
  const bool sampleOut = positions_[device::shuttle] == kOpenBeam;
  return {undersamplingFor(static_cast<std::uint8_t>(get(field::laserSamp))),
          singleSidedFor(static_cast<std::uint8_t>(get(field::adcStatus))), sampleOut ? Sample::None : options_.sample,
          options_.temperature, 0, options_.faults};
}

// The iris keeps its aperture in the setup record; the other devices beside it.
std::int32_t Instrument::positionOf(unsigned device) const {
  return device == device::iris ? static_cast<std::int32_t>(get(field::iris)) : positions_[device];
}

std::uint32_t Instrument::get(bench::SetupField f) const { return getField(setup_.data(), f); }

void Instrument::put(bench::SetupField f, std::uint32_t value) { putField(setup_.data(), f, value); }

const Instrument::Block* Instrument::findBlock(std::uint32_t stamp) const {
  const auto found = std::find_if(blocks_.begin(), blocks_.end(),
                                  [&](const Block& block) { return block.info.stamp == stamp; });
  return found == blocks_.end() ? nullptr : &*found;
}

}  // namespace dorvane::sim
