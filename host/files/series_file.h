// A series table: one row per file of a timed series, the seconds since its first file and, for each
// tracked band, its area, peak height and peak position. Plain CSV after "#" lines that say what the
// columns hold, as the host's other CSV files have them:
//
//   # dorvane series: bands of absorbance, tracked file by file
//   # CO2: 2250 to 2450 cm-1; area in absorbance x cm-1 above the straight line through the ends,
//   #      height in absorbance above that line, position in cm-1
//   seconds,file,CO2 area,CO2 height,CO2 position
//   0.000,run-001,12.5,0.98,2349.1
//
// A value that cannot be had (the spectrum is missing there) is left empty.
#pragma once

#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/whole_file.h"

namespace dorvane::host {

// A band followed through a series: its name (no comma, quote or line break) and its range.
struct TrackedBand {
  std::string name;
  double low = 0, high = 0;  // cm-1, low < high
};

// What a band measures in one spectrum; NaN where it cannot be had.
struct BandMeasure {
  double area = std::numeric_limits<double>::quiet_NaN();
  double height = std::numeric_limits<double>::quiet_NaN();
  double position = std::numeric_limits<double>::quiet_NaN();
};

// The table's first line: kSeriesTitleStart, what the spectra are, kSeriesTitleEnd.
inline constexpr std::string_view kSeriesTitleStart = "# dorvane series: bands of ";
inline constexpr std::string_view kSeriesTitleEnd = " spectra, tracked file by file";

struct SeriesRow {
  double seconds = 0;  // since the series' first file began
  std::string file;    // the file's name without its extension, e.g. "run-001"
  std::vector<BandMeasure> bands;  // in the order of the table's bands
};

// A rise towards a level: a - b exp(-t / tau), t in seconds.
struct ExponentialRise {
  double a = 0, b = 0, tau = 0;
};

// "PREFIX-series.csv".
std::string seriesFileName(const std::string& prefix);

// The "#" lines and the column names; `values` says what the spectra are ("absorbance").
std::string seriesHeader(const std::vector<TrackedBand>& bands, std::string_view values);
std::string seriesRowText(const SeriesRow& row);

// The table written a row at a time: the header whole when it is opened (a file at `path` is
// refused or replaced as `existing` says, as with the other files), then each row appended and
// committed to the disk, so that a crash or a stop keeps every finished row.
class SeriesFile {
 public:
  // Throws HostFailure with the line of the failure.
  SeriesFile(const std::string& path, const std::string& header, Existing existing);
  ~SeriesFile();
  SeriesFile(const SeriesFile&) = delete;
  SeriesFile& operator=(const SeriesFile&) = delete;

  // Throws HostFailure: "cannot write PATH: REASON".
  void append(const SeriesRow& row);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<AppendingFile> file_;
};

}  // namespace dorvane::host
