// Spectrum retrieval and conversion: one data block from the bench, its header checked before
// anything is allocated, its packed raw counts turned into volts in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bench/setup_record.h"
#include "dorvane.h"
#include "link/com_port.h"

namespace dorvane::bench {

// The data header: the first 82 bytes of the setup layout.
inline constexpr std::size_t kDataHeaderSize = 82;
// The most points a block may announce; a header above it fails the retrieval unallocated.
inline constexpr std::uint32_t kMostSpectrumPoints = DORVANE_MOST_BLOCK_POINTS;
// Every reply packet is received into a buffer of this size (payload and checksum).
inline constexpr std::size_t kSpectrumPacketBuffer = 256;

// Retrieves the block with `stamp`. 1 with `data` holding `points` floats in volts, which the
// caller releases with delete[]; 0 with `data` null (ABORT sent once the reply had begun). `points`
// is set as soon as the header is read.
std::int32_t rxSpectrum(link::LinkServices& link, std::int32_t port, std::int32_t bench, std::uint32_t stamp,
                        float*& data, std::int32_t& points, const BenchSetup& benchSetup, std::uint16_t& srqCount,
                        std::int32_t& benchError);

// Turns `points` packed big-endian counts of `pointSize` bytes (2, 3 or 4) at the start of
// `buffer` (points x 4 bytes) into volts, in place; with no scans there is nothing to divide by and
// the buffer is left as it is. 1.
std::int32_t convertData(runtime::LogFile& log, std::int32_t bench, void* buffer, std::int32_t points,
                         std::int32_t pointSize, std::uint16_t scans, std::uint8_t voltsCode);

}  // namespace dorvane::bench
