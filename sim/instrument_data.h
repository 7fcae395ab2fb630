// The bench's raw data: the interferogram its converter samples in one scan, the co-add of several
// scans, and the points packed as the bench sends them.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace dorvane::sim {

// Bytes per point on the wire. Auto: the smallest of 2, 3 or 4 bytes that holds the co-add of the
// block's scans at full scale; a forced size saturates counts that do not fit.
enum class PointSize { Auto = 0, Two = 2, Three = 3, Four = 4 };

unsigned pointSizeFor(PointSize option, unsigned scans);
// The largest count that `bytes` bytes hold.
std::uint32_t largestCount(unsigned bytes);

// One scan as the converter would read it without noise: the converter's midpoint of 32768 counts
// and a centre burst around the middle point, where the mirror passes zero path difference.
std::vector<double> cleanInterferogram(std::uint32_t points);

// The co-add of `scans` scans of `clean`, each with the detector's noise drawn from `random` and
// read as a 16-bit count, then saturated to `largest`.
std::vector<std::uint32_t> coAdd(const std::vector<double>& clean, unsigned scans, std::uint32_t largest,
                                 std::mt19937_64& random);

// Appends each count, big-endian, in `bytes` bytes (2, 3 or 4).
void packPoints(const std::vector<std::uint32_t>& counts, unsigned bytes, std::vector<std::uint8_t>& out);

}  // namespace dorvane::sim
