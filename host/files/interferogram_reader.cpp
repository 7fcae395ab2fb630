// The host's own interferogram files read back: the CSV by its first comment line, the JCAMP-DX by
// its labels, each value parsed whole and checked, each count checked against what the file says.
#include "host/files/interferogram_reader.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <string_view>

#include "host/files/text_reading.h"

namespace dorvane::host {
namespace {

using text_reading::bad;
using text_reading::checkPointCount;
using text_reading::finiteValue;
using text_reading::integerIn;
using text_reading::kQuotedLength;
using text_reading::Lines;
using text_reading::quoted;

constexpr std::string_view kCsvStart = "# dorvane interferogram:";
constexpr std::string_view kJcampTitlePrefix = "dorvane interferogram, ";
// The JCAMP-DX file's whole numbers stay below 2^53, where a double holds every integer.
constexpr long long kLargestWhole = 1LL << 53;
constexpr text_reading::JcampKind kJcampKind{"INFRARED INTERFEROGRAM", "an interferogram", "(X++(Y..Y))",
                                             kLargestInterferogramPoints};
void setLaserWavenumber(InterferogramRecord& record, const Lines& lines, std::string_view text) {
  const double value = finiteValue(lines, text);
  if (value <= 0) bad(lines.at() + "the laser wavenumber " + quoted(text) + " is not above 0");
  record.laserWavenumber = value;
}

void setUndersampling(InterferogramRecord& record, const Lines& lines, std::string_view text) {
  const long long value = integerIn(lines, "undersampling ratio", text, 1, 8);
  if (value != 1 && value != 2 && value != 4 && value != 8) {
    bad(lines.at() + "the undersampling ratio " + std::to_string(value) + " is not 1, 2, 4 or 8");
  }
  record.undersampling = static_cast<std::int32_t>(value);
}

// "FTIR bench family 9 model 60", as the host names the bench: its identity (family << 16 | model);
// 0 when the label names none. Only for showing, so a label of another form is no failure.
std::int32_t benchIdentityOf(std::string_view value) {
  const std::string text(value.substr(0, kQuotedLength));
  unsigned family = 0, model = 0;
  char after = 0;
  if (std::sscanf(text.c_str(), "FTIR bench family %5u model %5u%c", &family, &model, &after) != 2 ||
      family > 0x7FFF || model > 0xFFFF) {
    return 0;
  }
  return static_cast<std::int32_t>((family << 16) | model);
}

// "2026/12/07 10:53:26 +0000", the LONGDATE the host writes: ms since 1970 UTC; 0 (unknown) for any
// other form.
double longDateMs(std::string_view value) {
  const std::string text(value.substr(0, kQuotedLength));
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char after = 0;
  if (std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d +0000%c", &year, &month, &day, &hour, &minute, &second,
                  &after) != 6 ||
      month < 1 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return 0;
  }
  const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return 0;
  const auto days = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::sys_days{date}.time_since_epoch());
  return static_cast<double>(days.count() + hour * 3600 + minute * 60 + second) * 1000;
}

// When the host asked for the file: ms since 1970 UTC, within the years a clock can read.
void setStartedMs(InterferogramRecord& record, const Lines& lines, std::string_view text) {
  constexpr double kEndOfYear9999Ms = 253402300800000.0;
  const double value = finiteValue(lines, text);
  if (value <= 0 || value >= kEndOfYear9999Ms) bad(lines.at() + "the start time " + quoted(text) + " is no time");
  record.startedMs = value;
}

void addPoint(InterferogramRecord& record, const Lines& lines, double value) {
  if (record.volts.size() == kLargestInterferogramPoints) {
    bad(lines.at() + "more than " + std::to_string(kLargestInterferogramPoints) + " points");
  }
  record.volts.push_back(value);
}

// "# name: value" comment lines, "index,volts", then "index,value" lines.
InterferogramRecord readCsv(std::string_view text) {
  InterferogramRecord record;
  Lines lines(text);
  std::optional<long long> declared;
  record.title = text_reading::readCsvHeader(lines, kCsvStart, "index,volts", [&](std::string_view name, std::string_view value) {
    if (name == "scans" && value != "unknown") {
      record.scans = static_cast<std::int32_t>(integerIn(lines, "scan count", value, 1, INT32_MAX));
    } else if (name == "gain" && value != "unknown") {
      record.gain = static_cast<std::int32_t>(integerIn(lines, "gain", value, INT32_MIN, INT32_MAX));
    } else if (name == "points") {
      declared = integerIn(lines, "point count", value, 1, kLargestInterferogramPoints);
    } else if (name == "laser wavenumber") {
      if (!value.ends_with(" cm-1")) bad(lines.at() + "the laser wavenumber has no unit cm-1");
      setLaserWavenumber(record, lines, value.substr(0, value.size() - 5));
    } else if (name == "undersampling") {
      setUndersampling(record, lines, value.substr(0, value.find(' ')));
    } else if (name == "started") {
      // "2026-12-08T10:53:26.208Z (1796727206208 ms since ...)": the number is the time.
      const std::size_t open = value.find(" (");
      if (open == std::string_view::npos) bad(lines.at() + "the start time has no ms since 1970");
      const std::string_view ms = value.substr(open + 2);
      setStartedMs(record, lines, ms.substr(0, ms.find(' ')));
    }
  });
  record.volts.reserve(static_cast<std::size_t>(declared.value_or(0)));
  std::string_view line;
  while (text_reading::nextCsvRow(lines, line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) bad(lines.at() + quoted(line) + " is not index,volts");
    const long long index = integerIn(lines, "index", line.substr(0, comma), 0, kLargestInterferogramPoints);
    if (static_cast<std::size_t>(index) != record.volts.size()) {
      bad(lines.at() + "index " + std::to_string(index) + " where " + std::to_string(record.volts.size()) + " belongs");
    }
    addPoint(record, lines, finiteValue(lines, line.substr(comma + 1)));
  }
  checkPointCount(record.volts.size(), declared);
  return record;
}

// The header's labels, then (X++(Y..Y)) lines: the index of the line's first value, then whole
// numbers that YFACTOR scales to volts.
InterferogramRecord readJcamp(std::string_view text) {
  InterferogramRecord record;
  Lines lines(text);
  std::optional<double> factor;
  const auto header = text_reading::readJcampHeader(lines, kJcampKind, [&](std::string_view name, std::string_view value) {
    if (name == "SPECTROMETER/DATA SYSTEM") {
      record.benchIdentity = benchIdentityOf(value);
    } else if (name == "LONGDATE") {
      record.timestampMs = longDateMs(value);
    } else if ((name == "XFACTOR" || name == "DELTAX") && value != "1") {
      bad(lines.at() + "##" + std::string(name) + " is " + quoted(value) + ", not 1 as in dorvane's interferograms");
    } else if (name == "FIRSTX" && value != "0") {
      bad(lines.at() + "##FIRSTX is " + quoted(value) + ", not 0 as in dorvane's interferograms");
    } else if (name == "YFACTOR") {
      factor = finiteValue(lines, value);
      if (*factor <= 0) bad(lines.at() + "##YFACTOR " + quoted(value) + " is not above 0");
    } else if (name == "$STARTED MS") {
      setStartedMs(record, lines, value);
    } else if (name == "$SCANS") {
      record.scans = static_cast<std::int32_t>(integerIn(lines, "scan count", value, 1, INT32_MAX));
    } else if (name == "$GAIN") {
      record.gain = static_cast<std::int32_t>(integerIn(lines, "gain", value, INT32_MIN, INT32_MAX));
    } else if (name == "$LASER WAVENUMBER") {
      setLaserWavenumber(record, lines, value);
    } else if (name == "$UNDERSAMPLING") {
      setUndersampling(record, lines, value);
    }
  });
  if (!header.typed) bad("it has no ##DATA TYPE=INFRARED INTERFEROGRAM");
  if (!header.data) bad("it has no ##XYDATA");
  if (!factor) bad("it has no ##YFACTOR before its data");
  if (!header.declared) bad("it has no ##NPOINTS before its data");
  const std::string_view title = header.title;
  record.title = std::string(title.starts_with(kJcampTitlePrefix) ? title.substr(kJcampTitlePrefix.size()) : title);
  record.volts.reserve(static_cast<std::size_t>(*header.declared));
  std::string_view line;
  while (text_reading::nextJcampDataLine(lines, line)) {
    std::string_view rest = line;
    bool first = true;
    while (!rest.empty()) {
      const std::size_t blank = rest.find(' ');
      const std::string_view token = rest.substr(0, blank);
      rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
      if (token.empty()) continue;
      if (first) {
        const long long index = integerIn(lines, "index", token, 0, kLargestInterferogramPoints);
        if (static_cast<std::size_t>(index) != record.volts.size()) {
          bad(lines.at() + "the line starts at point " + std::to_string(index) + " where " +
              std::to_string(record.volts.size()) + " belongs");
        }
        first = false;
        continue;
      }
      const long long whole = integerIn(lines, "value", token, -kLargestWhole, kLargestWhole);
      const double value = (token == "-0" ? -0.0 : static_cast<double>(whole)) * *factor;
      if (!std::isfinite(value)) bad(lines.at() + "the value " + quoted(token) + " times ##YFACTOR is not a finite number");
      addPoint(record, lines, value);
    }
  }
  checkPointCount(record.volts.size(), header.declared);
  return record;
}

constexpr text_reading::SavedFormats<InterferogramRecord> kFormats{
    "interferogram", kLargestInterferogramFile, kCsvStart,
    "not an interferogram saved by dorvane (its CSV or JCAMP-DX files)", readCsv, readJcamp};

}  // namespace

InterferogramReading readInterferogramFile(const std::string& path) {
  InterferogramReading reading;
  reading.failure = text_reading::readSavedFile(path, kFormats, reading.record);
  return reading;
}

}  // namespace dorvane::host
