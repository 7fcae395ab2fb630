// loadScanSettings and the bench families' tables of velocity, gain, detector, filter and laser
// sampling codes.
#include "bench/scan_settings.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace dorvane::bench {
namespace {

constexpr std::array<std::uint8_t, 17> kVelocities = {1, 2, 5, 7, 9, 11, 15, 17, 23, 25, 31, 33, 36, 37, 39, 40, 41};
constexpr std::array<std::uint8_t, 4> kGainCodes = {0x00, 0x40, 0x80, 0xC0};
// Detector codes: the first table serves family 15 and the family 9 model 62; the second the rest.
constexpr std::array<std::uint8_t, 5> kDetectorCodesFirst = {0x1A, 0x16, 0x1C, 0x1F, 0x0E};
constexpr std::array<std::uint8_t, 5> kDetectorCodesSecond = {0x1C, 0x1A, 0x16, 0x1F, 0x0E};

// Low-pass filter codes by lpf 1 to 8, and the automatic choice (lpf 0): the entry, counted from 1,
// that suits the forward velocity.
constexpr std::array<std::uint8_t, 8> kFilterCodesWide = {0xE0, 0xC0, 0xA0, 0x80, 0x60, 0x40, 0x20, 0x00};
constexpr std::array<std::uint8_t, 17> kAutoFilterWide = {1, 1, 1, 2, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 8, 8};
// Families 13 and 14: lpf 1 to 4, and their automatic choice.
constexpr std::array<std::uint8_t, 4> kFilterCodesNarrow = {0x20, 0x40, 0x60, 0x80};
constexpr std::array<std::uint8_t, 16> kAutoFilterNarrow = {1, 1, 1, 1, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4};
// Family 11: lpf 0 or 1, no automatic choice.
constexpr std::array<std::uint8_t, 2> kFilterCodesFamily11 = {0x20, 0x40};

constexpr std::uint32_t kBlocksAtMost = 10;

// A table's entry for a setting; settings beyond the table take its last entry, negative ones its
// first, so a wrong setting never reads outside the table.
template <typename Value, std::size_t Size>
Value entry(const std::array<Value, Size>& table, std::int32_t index) {
  return table[static_cast<std::size_t>(std::clamp<std::int32_t>(index, 0, Size - 1))];
}

// The filter code of `lpf`, whose codes count from 1, or the automatic choice by `fvel` for 0.
template <std::size_t Codes, std::size_t Choices>
std::uint8_t filterCode(const std::array<std::uint8_t, Codes>& codes,
                        const std::array<std::uint8_t, Choices>& automatic, std::int32_t lpf, std::int32_t fvel) {
  if (lpf == 0) return codes[entry(automatic, fvel) - 1u];
  return entry(codes, lpf - 1);
}

std::uint8_t laserSampCode(std::int32_t lasersamp) {
  switch (lasersamp) {
    case 1: return 0xE8;
    case 4: return 0xE2;
    case 8: return 0xC2;
    default: return 0xE4;
  }
}

// The smallest power of two not below `points`; 1 for 1 and less. Past 2^31 it wraps to 0.
std::uint32_t powerOfTwoAtLeast(std::int32_t points) {
  std::uint64_t power = 1;
  while (power < static_cast<std::uint64_t>(std::max<std::int32_t>(points, 1))) power <<= 1;
  return static_cast<std::uint32_t>(power);
}

// How many data blocks, ten at most, fit strictly below the bench's data memory.
std::uint16_t dataBlocksThatFit(std::uint32_t pointsPow2, std::uint32_t dataPoints, const BenchSetup& benchSetup) {
  const std::uint32_t blockExtra = benchSetup.get(field::sizeDataBlock);
  const std::uint32_t memory = benchSetup.get(field::totalDataSpace);
  if (blockExtra == 0 || memory == 0) return 0;
  const std::uint32_t blockSize = blockExtra + 4u * std::max(pointsPow2, dataPoints);
  std::uint32_t blocks = kBlocksAtMost;
  while (blocks > 0 && blocks * blockSize >= memory) --blocks;
  return static_cast<std::uint16_t>(blocks);
}

}  // namespace

void loadScanSettings(const ScanRequest& request, ScanSettings& settings, const BenchSetup& benchSetup) {
  settings.bytes.fill(0);
  settings.setCommand(kPutSetupCommand);
  settings.set(field::dataDef, data_def::requested);

  const auto points = static_cast<std::uint32_t>(request.points);
  const std::uint32_t dataPoints = points + 64u;
  const std::uint32_t pointsPow2 = powerOfTwoAtLeast(request.points);
  settings.set(field::requestedPoints, points);
  settings.set(field::dataPoints, dataPoints);
  settings.set(field::pointsPow2, pointsPow2);
  settings.set(field::dataStart, 0);
  settings.set(field::dataEnd, dataPoints - 1u);
  settings.set(field::scanTime, 0);
  settings.set(field::sampScans, static_cast<std::uint16_t>(request.scans));
  settings.set(field::numDataBlocks, dataBlocksThatFit(pointsPow2, dataPoints, benchSetup));

  settings.set(field::adcStatus, static_cast<std::uint8_t>(request.symmetry) | 0x51u);
  settings.set(field::scanDirection, 0);

  const std::int32_t bench = request.bench;
  const bool tabled = bench == 9 || bench == 10 || bench == 11 || bench == 13 || bench == 14 || bench == 15;
  if (tabled) {
    settings.set(field::forwardServoAnalog, entry(kGainCodes, request.gain));
    settings.set(field::reverseServoAnalog, 0);
    const bool firstDetectorTable = bench == 15 || (bench == 9 && request.benchModel == 62);
    std::uint8_t filterSelect =
        entry(firstDetectorTable ? kDetectorCodesFirst : kDetectorCodesSecond, request.detector);
    settings.set(field::laserSamp, laserSampCode(request.lasersamp));

    std::int32_t fvel = request.fvel;
    std::int32_t rvel = request.rvel;
    switch (bench) {
      case 15:
        fvel = std::min(fvel, 16);
        rvel = std::min(rvel, 16);
        [[fallthrough]];
      case 9:
      case 10:
        settings.set(field::forwardSpeed, entry(kVelocities, fvel));
        settings.set(field::reverseSpeed, entry(kVelocities, rvel));
        filterSelect |= filterCode(kFilterCodesWide, kAutoFilterWide, request.lpf, fvel);
        break;
      case 11:
        settings.set(field::forwardSpeed, static_cast<std::uint32_t>(std::clamp(fvel, 0, 6) + 1));
        settings.set(field::reverseSpeed, static_cast<std::uint32_t>(std::clamp(rvel, 0, 6) + 1));
        filterSelect |= entry(kFilterCodesFamily11, request.lpf);
        break;
      default:  // 13 and 14 take the velocity indexes as they are
        settings.set(field::forwardSpeed, static_cast<std::uint8_t>(fvel));
        settings.set(field::reverseSpeed, static_cast<std::uint8_t>(rvel));
        filterSelect |= filterCode(kFilterCodesNarrow, kAutoFilterNarrow, request.lpf, fvel);
        break;
    }
    settings.set(field::filterSelect, filterSelect);
  }

  settings.set(field::shortTurn, static_cast<std::uint32_t>(request.lturn));
  settings.set(field::quickTurn, static_cast<std::uint32_t>(request.qturn));
}

}  // namespace dorvane::bench
