// convertData on its own: packed big-endian points of 2, 3 or 4 bytes, in a buffer of exactly
// points x 4 bytes, turned into volts in place.
#include <cstring>
#include <memory>
#include <string>

#include "bench/retrieval.h"
#include "fuzz/fake_bench.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  const auto pointSize = static_cast<std::int32_t>(2 + fuzz::takeNumber(input, 1) % 3);
  const auto scans = static_cast<std::uint16_t>(fuzz::takeNumber(input, 2));
  const auto voltsCode = static_cast<std::uint8_t>(fuzz::takeNumber(input, 1));
  const auto family = static_cast<std::int32_t>(fuzz::takeNumber(input, 1) % 16);
  const std::size_t points = input.size() / static_cast<std::size_t>(pointSize);

  const auto buffer = std::make_unique<std::uint8_t[]>(points * 4);
  if (points != 0) std::memcpy(buffer.get(), input.data(), points * static_cast<std::size_t>(pointSize));
  testing::VirtualClock clock;
  runtime::LogFile log{clock, [] { return std::string(); }};
  bench::convertData(log, family, buffer.get(), static_cast<std::int32_t>(points), pointSize, scans, voltsCode);
  return 0;
}
