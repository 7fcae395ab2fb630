// Reading back the processed files the host saves, its spectra (CSV or JCAMP-DX, told apart by
// their content), for drawing them after the fact. A file is untrusted: its size is bounded before
// it is read, every number and every count is checked, and anything else gets one line that says
// what is wrong.
#pragma once

#include <cstdint>
#include <string>

#include "host/files/spectrum_files.h"

namespace dorvane::host {

// The most a file may hold: the spectrum of the largest transform the spectra library makes (2^24
// points, whose spectrum has 2^23 + 1), and bytes to match.
inline constexpr std::size_t kLargestSpectrumPoints = (std::size_t{1} << 23) + 1;
inline constexpr std::uintmax_t kLargestSpectrumFile = 512ull << 20;

struct SpectrumReading {
  SpectrumRecord record;  // title, kind, wavenumbers and values (NaN where missing); no parameters
  std::string failure;    // empty on success; else what is wrong, e.g. "line 12: ..."
};

SpectrumReading readSpectrumFile(const std::string& path);

// True when the file's opening lines say it is a spectrum of the host's (any other file, an
// interferogram or one that cannot be read: false), so that the right reader takes it.
bool isSavedSpectrum(const std::string& path);

}  // namespace dorvane::host
