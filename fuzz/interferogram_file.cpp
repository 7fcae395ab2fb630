// The files the host reads back (CSV or JCAMP-DX, told apart by their content): interferograms for
// `dorvane spectrum` and `dorvane view`, interferograms and spectra for `dorvane plot`.
#include <cstdlib>
#include <string>

#include "fuzz/input_file.h"
#include "host/files/interferogram_reader.h"
#include "host/files/processed_file_reader.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::writeInputFile("interferogram", data, size);
  const host::InterferogramReading reading = host::readInterferogramFile(path);
  if (reading.failure.empty() && reading.record.volts.size() > host::kLargestInterferogramPoints) std::abort();
  const host::SpectrumReading spectrum = host::readSpectrumFile(path);
  if (spectrum.failure.empty() && (spectrum.record.values.size() > host::kLargestSpectrumPoints ||
                                   spectrum.record.values.size() != spectrum.record.wavenumbers.size())) {
    std::abort();
  }
  return 0;
}
