// The host's own spectrum files read back: the CSV by its first comment line, the JCAMP-DX by its
// labels, each wavenumber and value parsed whole and checked, the count checked against the file's.
#include "host/files/processed_file_reader.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "host/files/text_reading.h"

namespace dorvane::host {
namespace {

using text_reading::bad;
using text_reading::integerIn;
using text_reading::kJcampStart;
using text_reading::labelOf;
using text_reading::Lines;
using text_reading::quoted;

constexpr std::string_view kCsvStart = "# dorvane spectrum:";
constexpr text_reading::JcampKind kJcampKind{"INFRARED SPECTRUM", "a spectrum", "(XY..XY)", kLargestSpectrumPoints};
// The shortest row either format writes ("1,\n"), which bounds the points a file can hold.
constexpr std::size_t kShortestRow = 3;
// Enough of a file for its opening lines: a title cut to the JCAMP-DX line width, then the type.
constexpr std::size_t kOpeningBytes = 1024;

// One point: its wavenumber above the last one's, its value a finite number or `missing` (NaN).
void addPoint(SpectrumRecord& record, const Lines& lines, std::string_view wavenumberText, std::string_view valueText,
              std::string_view missing) {
  if (record.values.size() == kLargestSpectrumPoints) {
    bad(lines.at() + "more than " + std::to_string(kLargestSpectrumPoints) + " points");
  }
  const double wavenumber = text_reading::finiteValue(lines, wavenumberText);
  if (!record.wavenumbers.empty() && !(wavenumber > record.wavenumbers.back())) {
    bad(lines.at() + "the wavenumber " + quoted(wavenumberText) + " is not above the one before");
  }
  const double value = valueText == missing ? NAN : text_reading::finiteValue(lines, valueText);
  record.wavenumbers.push_back(wavenumber);
  record.values.push_back(value);
}

// How a format writes its points: "400.5,1.25" and "400.5," in CSV, "400.5, 1.25" and "400.5, ?" in
// JCAMP-DX.
struct PointRows {
  bool (*next)(Lines& lines, std::string_view& line);  // the next row; false at the table's end
  std::string_view separator;
  std::string_view missing;
  std::string_view form;  // as a failure names it
};
constexpr PointRows kCsvRows{text_reading::nextCsvRow, ",", "", "wavenumber,value"};
constexpr PointRows kJcampRows{text_reading::nextJcampDataLine, ", ", "?", "X, Y"};

// The points after the header, as many as it said (`declared`); room is made for them as far as the
// file's size allows.
void readPoints(SpectrumRecord& record, Lines& lines, long long declared, std::size_t fileSize, const PointRows& rows) {
  const std::size_t room = std::min(static_cast<std::size_t>(declared), fileSize / kShortestRow);
  record.wavenumbers.reserve(room);
  record.values.reserve(room);
  std::string_view line;
  while (rows.next(lines, line)) {
    const std::size_t separator = line.find(rows.separator);
    if (separator == std::string_view::npos) bad(lines.at() + quoted(line) + " is not " + std::string(rows.form));
    addPoint(record, lines, line.substr(0, separator), line.substr(separator + rows.separator.size()), rows.missing);
  }
  text_reading::checkPointCount(record.values.size(), declared);
}

// The kind by its name in the CSV file, spectrumKindName's.
SpectrumKind kindNamed(const Lines& lines, std::string_view name) {
  for (const SpectrumKind kind : {SpectrumKind::SingleBeam, SpectrumKind::Transmittance, SpectrumKind::Absorbance}) {
    if (name == spectrumKindName(kind)) return kind;
  }
  bad(lines.at() + "the values " + quoted(name) + " are not single beam, transmittance or absorbance");
}

// "# dorvane spectrum: TITLE", "# values: KIND", "# points: N", parameter lines, "wavenumber,value",
// then "wavenumber,value" lines with an empty value where it is missing.
SpectrumRecord readCsv(std::string_view text) {
  SpectrumRecord record;
  Lines lines(text);
  std::optional<SpectrumKind> kind;
  std::optional<long long> declared;
  record.title = text_reading::readCsvHeader(lines, kCsvStart, "wavenumber,value", [&](std::string_view name, std::string_view value) {
    if (name == "values") {
      kind = kindNamed(lines, value);
    } else if (name == "points") {
      declared = integerIn(lines, "point count", value, 1, kLargestSpectrumPoints);
    }
  });
  if (!kind) bad("it has no \"# values:\" line before its data");
  if (!declared) bad("it has no \"# points:\" line before its data");
  record.kind = *kind;
  readPoints(record, lines, *declared, text.size(), kCsvRows);
  return record;
}

// The kind by its ##YUNITS, as spectrum_files.cpp writes them.
SpectrumKind kindOfUnits(const Lines& lines, std::string_view units) {
  if (units == "ARBITRARY UNITS") return SpectrumKind::SingleBeam;
  if (units == "TRANSMITTANCE") return SpectrumKind::Transmittance;
  if (units == "ABSORBANCE") return SpectrumKind::Absorbance;
  bad(lines.at() + "##YUNITS is " + quoted(units) + ", not ARBITRARY UNITS, TRANSMITTANCE or ABSORBANCE");
}

// The header's labels, then "X, Y" lines, "?" for a missing value.
SpectrumRecord readJcamp(std::string_view text) {
  SpectrumRecord record;
  std::optional<SpectrumKind> kind;
  Lines lines(text);
  const auto header = text_reading::readJcampHeader(lines, kJcampKind, [&](std::string_view name, std::string_view value) {
    if (name == "YUNITS") {
      kind = kindOfUnits(lines, value);
    } else if ((name == "XFACTOR" || name == "YFACTOR") && value != "1") {
      bad(lines.at() + "##" + std::string(name) + " is " + quoted(value) + ", not 1 as in dorvane's spectra");
    }
  });
  if (!header.typed) bad("it has no ##DATA TYPE=INFRARED SPECTRUM");
  if (!header.data) bad("it has no ##XYDATA");
  if (!kind) bad("it has no ##YUNITS before its data");
  if (!header.declared) bad("it has no ##NPOINTS before its data");
  record.title = std::string(header.title);
  record.kind = *kind;
  readPoints(record, lines, *header.declared, text.size(), kJcampRows);
  return record;
}

constexpr text_reading::SavedFormats<SpectrumRecord> kFormats{
    "spectrum", kLargestSpectrumFile, kCsvStart, "not a spectrum saved by dorvane (its CSV or JCAMP-DX files)", readCsv,
    readJcamp};

}  // namespace

SpectrumReading readSpectrumFile(const std::string& path) {
  SpectrumReading reading;
  reading.failure = text_reading::readSavedFile(path, kFormats, reading.record);
  return reading;
}

bool isSavedSpectrum(const std::string& path) {
  const std::string opening = text_reading::fileOpening(path, kOpeningBytes);
  if (opening.starts_with(kCsvStart)) return true;
  if (!opening.starts_with(kJcampStart)) return false;
  Lines lines(opening);
  std::string_view line;
  while (lines.next(line) && line.starts_with("##")) {
    const auto [name, value] = labelOf(line);
    if (name == "DATA TYPE") return value == kJcampKind.dataType;
  }
  return false;
}

}  // namespace dorvane::host
