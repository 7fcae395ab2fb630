// The bench's replies to status, setup and device requests, and the waits built on the status,
// against a bench played by the input (after its first byte, which picks the request).
#include <algorithm>
#include <cstdlib>

#include "bench/accessories.h"
#include "bench/requests.h"
#include "fuzz/fake_bench.h"

using namespace dorvane;

namespace {

// A status reply always leaves the block list ended by an all-zero entry inside the tables.
void checkTerminated(const bench::StatusTables& tables) {
  for (std::size_t i = 0; i < bench::kStatusEntries; ++i) {
    if (tables.stamps[i] == 0 && tables.flags[i] == 0) return;
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  const std::uint32_t request = fuzz::takeNumber(input, 1);
  fuzz::FakeBench fake(input);
  link::LinkServices& link = fake.link;
  bench::StatusTables tables;
  std::int32_t benchError = 0;
  std::uint16_t srqCount = 0;

  switch (request % 6) {
    case 0: {
      std::uint16_t statusWord = 0;
      std::uint16_t srqFlag = 0;
      if (bench::transmitStatus(link, 3, statusWord, srqFlag, tables, benchError) == 1) {
        checkTerminated(tables);
        if (srqFlag > 1) std::abort();
      }
      break;
    }
    case 1: {
      bench::BenchSetup setup;
      bench::transmitSetup(link, 3, setup, benchError);
      break;
    }
    case 2: {
      bench::DeviceWords words{};
      bench::getDevices(link, 3, words, benchError);
      break;
    }
    case 3: {
      const std::uint32_t stamp = bench::startScan(link, 3, static_cast<std::uint16_t>(request >> 3 & 7), srqCount,
                                                   0, tables, benchError);
      if (stamp == bench::kStampPending) std::abort();
      break;
    }
    case 4:
      if (bench::pollScanDone(link, 3, 0x01020304, tables, benchError) == 1) checkTerminated(tables);
      break;
    case 5:
      bench::waitForBench(link, 3, static_cast<std::uint16_t>(request >> 3 & 1), tables, benchError);
      break;
  }
  return 0;
}
