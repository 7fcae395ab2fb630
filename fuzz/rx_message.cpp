// rxMessage against a bench played by the input: a reply into a destination of a size the input
// picks, allocated exactly so that a byte written past it is caught.
#include <cstdlib>
#include <memory>

#include "fuzz/fake_bench.h"
#include "link/message.h"
#include "link/result_codes.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  // A status reply is the largest the driver asks for; a little more covers every size around it.
  const std::size_t capacity = fuzz::takeNumber(input, 2) % 2048;
  fuzz::FakeBench bench(input);
  const auto destination = std::make_unique<std::uint8_t[]>(capacity);

  // rxMessage sets the length of every reply it accepts: one left untouched shows here.
  std::int32_t dataLength = -1;
  std::uint16_t srqCount = 0;
  std::int32_t benchError = 0;
  const std::int32_t result =
      link::rxMessage(bench.link, 3, destination.get(), capacity, dataLength, srqCount, benchError);
  if (result != 1 && result != 0 && result != kLinkGaveUp && result != kLinkAborted) std::abort();
  if (result == 1 && (dataLength < 0 || static_cast<std::size_t>(dataLength) > capacity)) std::abort();
  return 0;
}
