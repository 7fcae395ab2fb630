// The series table's text, and its file: the header written whole, then a row at a time, each
// committed before the next file is acquired.
#include "host/files/series_file.h"

#include <cmath>
#include <cstdio>

#include "host/files/file_text.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

// Seconds to the millisecond, as the files keep their start times; six digits of a measure, more
// than a spectrum's noise leaves true; a position to a thousandth of a cm-1.
void appendFixed(std::string& text, const char* format, double value) {
  if (!std::isfinite(value)) return;  // a measure that cannot be had is left empty
  char digits[32];
  std::snprintf(digits, sizeof digits, format, value);
  text += digits;
}

}  // namespace

std::string seriesFileName(const std::string& prefix) { return prefix + "-series.csv"; }

std::string seriesHeader(const std::vector<TrackedBand>& bands, std::string_view values) {
  const std::string what(values);
  std::string text = std::string(kSeriesTitleStart) + what + std::string(kSeriesTitleEnd) + "\n";
  text += "# seconds: since the first file began; file: the file's name without its extension\n";
  for (const TrackedBand& band : bands) {
    text += "# " + band.name + ": " + numberText(band.low) + " to " + numberText(band.high) + " cm-1; area in " + what +
            " x cm-1 above the straight line through the range's ends, height in " + what +
            " above that line, position (of the peak) in cm-1\n";
  }
  text += "seconds,file";
  for (const TrackedBand& band : bands) text += "," + band.name + " area," + band.name + " height," + band.name + " position";
  text += '\n';
  return text;
}

std::string seriesRowText(const SeriesRow& row) {
  std::string text;
  appendFixed(text, "%.3f", row.seconds);
  text += ',';
  text += printableAscii(row.file);
  for (const BandMeasure& band : row.bands) {
    text += ',';
    appendFixed(text, "%.6g", band.area);
    text += ',';
    appendFixed(text, "%.6g", band.height);
    text += ',';
    appendFixed(text, "%.3f", band.position);
  }
  text += '\n';
  return text;
}

SeriesFile::SeriesFile(const std::string& path, const std::string& header, Existing existing) : path_(path) {
  const FileSetMember member{path, [&header](TemporaryFile& file) { return file.write(header); }};
  if (const std::string failure = writeFileSet({member}, existing); !failure.empty()) throw HostFailure(failure);
  std::string reason;
  file_ = AppendingFile::open(path, reason);
  if (!file_) throw HostFailure(cannotWrite(path, reason));
}

SeriesFile::~SeriesFile() = default;

void SeriesFile::append(const SeriesRow& row) {
  if (const std::string failure = file_->append(seriesRowText(row)); !failure.empty()) throw HostFailure(failure);
}

}  // namespace dorvane::host
