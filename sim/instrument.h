// The virtual bench as an instrument: its setup record, status word, data memory, accessories and
// timing, answering the driver's requests over the bench's end of the link. Read it to learn how
// the bench behaves; instrument.cpp tells each command's story in one function.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "bench/accessories.h"
#include "bench/setup_record.h"
#include "sim/bench_link.h"
#include "sim/instrument_data.h"

namespace dorvane::sim {

// The command words the bench knows (every reply starts with the command word it answers) and the
// accessories it can carry, device n being bit n of the device mask: the driver's own names.
namespace command = bench::command;
namespace device = bench::device;
inline constexpr std::uint32_t kAllDevices = (1u << device::iris) | (1u << device::shuttle) |
                                             (1u << device::beamMirror) | (1u << device::firstMotor) |
                                             (1u << device::secondMotor);

// The family and model codes that the serial number's first two bytes stand for.
struct BenchIdentity {
  int family;
  int model;
  bool operator==(const BenchIdentity&) const = default;
};

// Whether a serial number stands for `identity`, i.e. whether an Instrument takes it.
bool isBenchIdentity(BenchIdentity identity);

struct BlockInfo;
// What befalls a block that a watcher of the bench is told of.
enum class BlockEvent {
  ScanEnded,  // done with its co-add, or failed (its flags say which)
  DataAsked,  // the driver asked for its data, which now go out on the line
  DataSent,   // the driver acknowledged the last packet of those data: it holds the block
};

struct InstrumentOptions {
  // One of 9/60, 9/61, 9/62, 10/61, 11/1, 13/1, 14/1, 15/1, 7/32, 8/51, 8/53, 8/52.
  BenchIdentity identity{9, 60};
  std::uint16_t unitNumber = 0x0417;  // the serial number's last two bytes
  std::uint8_t adcVolts = 10;         // the converter's full scale, 5 or 10
  std::uint32_t totalDataSpace = 4 * 1024 * 1024;
  std::uint16_t sizeDataBlock = 256;  // bytes a data block takes beside 4 per point
  // The power-on scan setup.
  std::uint32_t dataPoints = 16448;
  std::uint16_t sampScans = 1;
  std::uint32_t deviceMask = kAllDevices;
  PointSize pointSize = PointSize::Auto;
  std::uint64_t seed = 1;  // the detector's noise: the same seed gives the same data
  // What the scans see (sim/source_light.h). The sample is in the beam unless the shuttle has
  // moved to position 2, the open beam: at power-on (position 0), at position 1, and always on a
  // bench without a shuttle.
  Sample sample = Sample::None;
  // The gas cell's time constant: it begins to fill when a scan first looks through it, and each
  // block sees it as it stands halfway through the block's scans.
  std::chrono::duration<double> fillTime = kDefaultFillTime;
  double temperature = kDefaultTemperature;  // K, the source's
  BenchFaults faults{};  // what ageing has done to it: none by default
  bool reportsNewSrq = true;  // false: a bench whose status never shows newSrq
  // Told of each block's events as they happen, for timing a host from outside (dorvane-benchsim
  // --report-blocks). Called on the bench's threads, for ScanEnded and DataAsked with its lock
  // held: it must not call into the instrument.
  std::function<void(BlockEvent, const BlockInfo&)> onBlock{};

  // Timing. An SRQ that falls due while a reply is on the line reaches the driver inside that
  // reply, as it would from a real bench.
  std::chrono::milliseconds perScan{2};
  std::chrono::milliseconds allocation{0};  // a new block's stamp reads 0xFFFFFFFF meanwhile
  std::chrono::milliseconds setupBusy{5};   // after PUT SETUP
  std::chrono::milliseconds moveBusy{5};    // after MOVE DEVICE
  std::chrono::milliseconds resetBusy{5};   // after RESET
};

// Trouble for the next scan to run into.
enum class ScanTrouble {
  None,
  FailedScan,     // the block ends with flag bit 5 instead of done
  FailedProcess,  // the block ends with flag bit 6 instead of done
  NeverFinishes,  // the bench scans until STOP SCAN or RESET
  HardwareError,  // specStat.hardwareError from the block's allocation until RESET
  CommError,      // specStat.commErr at the block's allocation, until reported
  ReInit,         // specStat.reInit at the block's allocation, until reported
};

// A data block in the bench's memory.
struct BlockInfo {
  std::uint32_t stamp;  // 0xFFFFFFFF while its memory is being allocated
  std::uint16_t flags;  // in the dataDef layout: done, failed, sample
  std::uint16_t scans;  // co-added into it
  std::uint32_t points;
  unsigned pointSize;   // bytes per point on the wire
  std::chrono::steady_clock::time_point finishedAt{};  // when its scan ended (done or failed)
};

// Usage:
//   PseudoTerminal pty;
//   Instrument bench(pty.masterFd(), options);
//   bench.start();  // the driver now opens pty.slavePath()
// Thread-safe: a test reads and scripts it while the link's thread serves the driver and the
// bench's clock thread acts on timed events (scan ends, busy ends).
class Instrument {
 public:
  static constexpr std::uint32_t kAllocating = 0xFFFFFFFF;

  // Serves the line on `fd` (a pty master that must outlive the instrument). Throws
  // std::invalid_argument for an identity that no serial number stands for.
  Instrument(int fd, InstrumentOptions options = {}, BenchLinkOptions linkOptions = {});
  ~Instrument();
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  void start() { link_.start(); }
  // The bench's end of the line: its faults, statistics and stop.
  BenchLink& link() { return link_; }
  const InstrumentOptions& options() const { return options_; }

  // The next START SCAN runs into `trouble`.
  void troubleNextScan(ScanTrouble trouble);

  std::uint16_t specStat() const;
  // A field of the setup record as the bench holds it now.
  std::uint32_t setupField(bench::SetupField field) const;
  // The blocks in memory, newest first, as TRANSMIT STATUS lists them.
  std::vector<BlockInfo> blocks() const;
  // The counts the bench sends for the block: empty for an unknown stamp or a block without data.
  std::vector<std::uint32_t> blockCounts(std::uint32_t stamp) const;
  std::int32_t devicePosition(unsigned device) const;

 private:
  using Clock = std::chrono::steady_clock;
  using Bytes = std::vector<std::uint8_t>;
  using SetupBytes = std::array<std::uint8_t, bench::kBenchSetupSize>;

  struct Block {
    BlockInfo info;
    Bytes header;                       // the setup it was scanned with: the data header
    std::vector<std::uint32_t> counts;  // empty until the scan is done
  };
  // The scan running into blocks_.front().
  struct Scan {
    Clock::time_point allocatedAt;
    std::optional<Clock::time_point> endsAt;  // none: it never finishes
    std::uint16_t srqWanted;                  // the SRQ bits of the setup's and the start's dataDef
    ScanTrouble trouble;
    ScanOptics optics;  // as the setup and the shuttle stood at the start
  };

  std::optional<Reply> handle(const Bytes& request);
  std::optional<Reply> transmitSetup();
  void putSetup(const Bytes& request);
  std::optional<Reply> transmitStatus();
  void startScan(const Bytes& request);
  void stopScan();
  std::optional<Reply> transmitData(const Bytes& request);
  std::optional<Reply> getDevices();
  void moveDevice(const Bytes& request);
  void reset();

  void advance(Clock::time_point now);
  void finishAllocation();
  void finishScan();
  std::optional<Clock::time_point> nextEvent() const;
  void runClock();

  void raiseSrq();
  void becomeBusy(std::chrono::milliseconds time);
  void badCommand() { unreported_ |= bench::spec_stat::badCommand; }
  std::uint16_t status() const;
  std::size_t blockCapacity() const;
  std::uint32_t freeMemory() const;
  std::uint32_t newStamp();
  ScanOptics opticsNow() const;
  std::uint32_t get(bench::SetupField field) const;
  void put(bench::SetupField field, std::uint32_t value);
  const Block* findBlock(std::uint32_t stamp) const;
  std::int32_t positionOf(unsigned device) const;

  const InstrumentOptions options_;
  const SetupBytes powerOnSetup_;

  mutable std::mutex mutex_;
  SetupBytes setup_;  // wire order
  std::deque<Block> blocks_;  // newest first
  std::optional<Scan> scan_;
  std::optional<Clock::time_point> busyUntil_;
  std::uint16_t unreported_ = 0;  // status bits that a status reply clears once it has shown them
  std::uint16_t conditions_ = 0;  // status bits that last until RESET
  std::array<std::int32_t, 32> positions_{};  // the iris's is the setup's iris field
  ScanTrouble nextTrouble_ = ScanTrouble::None;
  std::uint32_t lastStamp_ = 0;
  std::optional<Clock::time_point> cellFillingSince_;  // none: no scan has looked through the gas cell
  std::mt19937_64 random_;
  CleanScans cleanScans_;

  std::condition_variable clockWake_;
  bool stopping_ = false;
  std::thread clock_;
  // Last, so it goes first: the link's thread calls into everything above.
  BenchLink link_;
};

}  // namespace dorvane::sim
