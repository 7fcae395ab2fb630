// Reading back the series table the host writes (series_file.h), for drawing its trend after the
// fact. A file is untrusted: its size is bounded before it is read, every number is checked, and
// anything else gets one line that says what is wrong.
#pragma once

#include <string>
#include <vector>

#include "host/files/series_file.h"

namespace dorvane::host {

struct SeriesTable {
  std::string values;              // what the spectra are, e.g. "absorbance"
  std::vector<TrackedBand> bands;  // in the table's order
  std::vector<double> seconds;     // one a row
  std::vector<std::vector<BandMeasure>> measures;  // [band][row]; NaN where the table has none
};

struct SeriesReading {
  SeriesTable table;
  std::string failure;  // empty on success; else what is wrong, e.g. "line 7: ..."
};

SeriesReading readSeriesFile(const std::string& path);

// True when the file opens as a series table of the host's ("# dorvane series:").
bool isSavedSeries(const std::string& path);

}  // namespace dorvane::host
