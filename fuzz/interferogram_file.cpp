// The interferogram files that `dorvane spectrum` reads back (CSV or JCAMP-DX, told apart by
// their content).
#include <cstdlib>
#include <string>

#include "fuzz/input_file.h"
#include "host/files/interferogram_reader.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::writeInputFile("interferogram", data, size);
  const host::InterferogramReading reading = host::readInterferogramFile(path);
  if (reading.failure.empty() && reading.record.volts.size() > host::kLargestInterferogramPoints) std::abort();
  return 0;
}
