// The bench's raw data: the interferogram its converter samples in one scan, the co-add of several
// scans, and the points packed as the bench sends them.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "sim/source_light.h"

namespace dorvane::sim {

// Bytes per point on the wire. Auto: the smallest of 2, 3 or 4 bytes that holds the co-add of the
// block's scans at full scale; a forced size saturates counts that do not fit.
enum class PointSize { Auto = 0, Two = 2, Three = 3, Four = 4 };

unsigned pointSizeFor(PointSize option, unsigned scans);
// The largest count that `bytes` bytes hold.
std::uint32_t largestCount(unsigned bytes);

// The undersampling ratio r that the setup's laserSamp code stands for: the bench takes a point
// every r/2 laser fringes, so points lie r / (2 sigmaL) cm apart. Our reading of the codes (0xE8: 1,
// 0xE4: 2, 0xE2: 4, 0xC2: 8, any other: 2, as the driver sends 0xE4 for anything it does not know)
// is an assumption until a real bench confirms it.
unsigned undersamplingFor(std::uint8_t laserSamp);
// Bit 1 of the setup's adcStatus (the symmetry setting 2): the bench scans single-sided.
bool singleSidedFor(std::uint8_t adcStatus);
// The point at zero path difference: the middle of a double-sided scan; in a single-sided one 512
// points from the start (enough for a 32 cm-1 phase stretch at any r), or a quarter of a shorter scan.
std::uint32_t zpdIndex(std::uint32_t points, bool singleSided);

// What an ageing bench does wrong; the defaults are a healthy bench. Each fault's model is told
// where it acts, in instrument_data.cpp.
struct BenchFaults {
  double laserErrorPpm = 0;             // the reference laser's true wavenumber is sigmaL (1 + ppm 1e-6)
  double misalignmentMicroradians = 0;  // the moving mirror's tilt
  double noiseFactor = 1;               // the detector's noise times this
  double sourceOutput = 1;              // the source's output times this
  bool operator==(const BenchFaults&) const = default;
};

// The ranges a fault may take: past them the model stops being a bench at all.
inline constexpr double kMostLaserErrorPpm = 5000;
inline constexpr double kMostMisalignmentMicroradians = 200;
inline constexpr double kMostNoiseFactor = 1000;

// What a scan sees and how it samples it.
struct ScanOptics {
  unsigned undersampling = 2;  // r
  bool singleSided = false;
  Sample inBeam = Sample::None;
  double temperature = kDefaultTemperature;  // K, the source's
  unsigned cellFillStep = 0;  // the gas cell's fill in 1/kCellFillSteps of full; 0 for other samples
  BenchFaults faults{};
  bool operator==(const ScanOptics&) const = default;
};

// One scan as the converter would read it without noise: the interferogram of the spectrum at the
// detector (sim/source_light.h) about the converter's midpoint of 32768 counts, its centre
// burst at zpdIndex() reaching about ±20000 counts with the healthy bench's open beam, and a small
// phase error (0.2 rad, and the burst 0.3 points late) for the host's phase correction to take out.
// The faults act after that scaling, so a weak source or a misaligned mirror lowers the burst, as
// on a real bench whose gain was set when it was healthy.
std::vector<double> cleanInterferogram(std::uint32_t points, const ScanOptics& optics = {});

// The clean scans of the last few configurations: each takes a few ms to work out and is the same
// for every scan, while a host alternates a background and a sample. A filling gas cell's new step
// takes the place of its last one, so it never pushes the other configurations out.
class CleanScans {
 public:
  const std::vector<double>& get(std::uint32_t points, const ScanOptics& optics);
  std::size_t worked() const { return worked_; }  // how many scans were worked out, not found kept

 private:
  struct Entry {
    std::uint32_t points;
    ScanOptics optics;
    std::vector<double> scan;
  };
  std::deque<Entry> entries_;  // the latest first
  std::size_t worked_ = 0;
};

// The co-add of `scans` scans of `clean`, each with the detector's noise (4 counts times
// `noiseFactor`) drawn from `random` and read as a 16-bit count, then saturated to `largest`.
std::vector<std::uint32_t> coAdd(const std::vector<double>& clean, unsigned scans, std::uint32_t largest,
                                 std::mt19937_64& random, double noiseFactor = 1);

// Appends each count, big-endian, in `bytes` bytes (2, 3 or 4).
void packPoints(const std::vector<std::uint32_t>& counts, unsigned bytes, std::vector<std::uint8_t>& out);

}  // namespace dorvane::sim
