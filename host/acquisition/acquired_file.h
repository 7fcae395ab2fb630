// A file as the acquisition hands it on: to its observer, the saver and the picture worker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/files/formats.h"
#include "host/files/interferogram_files.h"
#include "host/files/series_file.h"
#include "host/files/spectrum_files.h"

namespace dorvane::host {

// A file as the acquisition fetched and saved it.
struct AcquiredFile {
  std::int32_t number = 0;  // 1 for the acquisition's first file
  InterferogramRecord record;
  SavedFiles files;  // its data files; the pictures come later (AcquireObserver::drawn)
  // Its spectrum, when the acquisition makes them (AcquireOptions::spectra), or why there is none.
  std::optional<SpectrumRecord> spectrum;
  std::string spectrumError;
  SavedFiles spectrumFiles;  // when the spectrum is saved too
  // Its row of the series table, when the acquisition tracks bands (AcquireOptions::tracks).
  std::optional<SeriesRow> row;
};

}  // namespace dorvane::host
