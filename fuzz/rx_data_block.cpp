// A spectrum retrieval against a bench played by the input: the request's acknowledgements, the
// header, the points of 2, 3 or 4 bytes, and their conversion to volts.
#include <cmath>
#include <cstdlib>

#include "bench/retrieval.h"
#include "fuzz/fake_bench.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  const auto family = static_cast<std::int32_t>(fuzz::takeNumber(input, 1) % 16);
  bench::BenchSetup setup;
  setup.set(bench::field::adcVolts, fuzz::takeNumber(input, 1));
  fuzz::FakeBench fake(input);

  float* volts = nullptr;
  std::int32_t points = 0;
  std::uint16_t srqCount = 0;
  std::int32_t benchError = 0;
  const std::int32_t result =
      bench::rxSpectrum(fake.link, 3, family, 0x01020304, volts, points, setup, srqCount, benchError);
  if (result != 1) {
    if (result != 0 || volts != nullptr) std::abort();
    return 0;
  }
  if (volts == nullptr || points < 1 || static_cast<std::uint32_t>(points) > bench::kMostSpectrumPoints) std::abort();
  // Every point announced is there and is a number of volts.
  for (std::int32_t i = 0; i < points; ++i) {
    if (!std::isfinite(volts[i])) std::abort();
  }
  delete[] volts;
  return 0;
}
