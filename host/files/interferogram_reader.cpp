// The host's own interferogram files read back: the CSV by its first comment line, the JCAMP-DX by
// its labels, each value parsed whole and checked, each count checked against what the file says.
#include "host/files/interferogram_reader.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "host/files/file_text.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

constexpr std::string_view kCsvStart = "# dorvane interferogram:";
constexpr std::string_view kJcampStart = "##TITLE=";
constexpr std::string_view kJcampTitlePrefix = "dorvane interferogram, ";
// The JCAMP-DX file's whole numbers stay below 2^53, where a double holds every integer.
constexpr long long kLargestWhole = 1LL << 53;
// As much of an offending piece of text as a failure line quotes.
constexpr std::size_t kQuotedLength = 40;

// A failure of the file's content, caught at the top and turned into the reading's line.
struct BadContent {
  std::string what;
};

[[noreturn]] void bad(std::string what) { throw BadContent{std::move(what)}; }

std::string quoted(std::string_view text) {
  std::string shown = printableAscii(text.substr(0, kQuotedLength));
  if (text.size() > kQuotedLength) shown += "...";
  return "\"" + shown + "\"";
}

// The file's lines one by one, each without its line end ("\n" or "\r\n"), counted from 1.
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool next(std::string_view& line) {
    if (rest_.empty()) return false;
    const std::size_t end = rest_.find('\n');
    line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number_;
    return true;
  }
  std::string at() const { return "line " + std::to_string(number_) + ": "; }

 private:
  std::string_view rest_;
  std::size_t number_ = 0;
};

// The whole of `text` as a number, or none: no blanks, no trailing characters, nothing but the number.
std::optional<double> wholeDouble(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<long long> wholeInteger(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

double finiteValue(const Lines& lines, std::string_view text) {
  const std::optional<double> value = wholeDouble(text);
  if (!value) bad(lines.at() + quoted(text) + " is not a number");
  if (!std::isfinite(*value)) bad(lines.at() + "the value " + quoted(text) + " is not a finite number");
  return *value;
}

long long integerIn(const Lines& lines, std::string_view what, std::string_view text, long long low, long long high) {
  const std::optional<long long> value = wholeInteger(text);
  if (!value) bad(lines.at() + "the " + std::string(what) + " " + quoted(text) + " is not a whole number");
  if (*value < low || *value > high) {
    bad(lines.at() + "the " + std::string(what) + " " + std::to_string(*value) + " is outside " + std::to_string(low) +
        " to " + std::to_string(high));
  }
  return *value;
}

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

void checkPointCount(std::size_t count, std::optional<long long> declared) {
  if (count == 0) bad("it holds no points");
  if (declared && static_cast<std::size_t>(*declared) != count) {
    bad("it says " + std::to_string(*declared) + " points but holds " + std::to_string(count) + " (cut short?)");
  }
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
  std::string_view line;
  lines.next(line);
  record.title = trimmed(line.substr(kCsvStart.size()));
  std::optional<long long> declared;
  while (lines.next(line) && line.starts_with("#")) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(2, colon - 2);
    std::string_view value = line.substr(colon + 2);
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
    }
  }
  if (line != "index,volts") bad(lines.at() + quoted(line) + " where the column names index,volts belong");
  record.volts.reserve(static_cast<std::size_t>(declared.value_or(0)));
  while (lines.next(line)) {
    if (line.empty()) {
      // Only the end of the file may be blank.
      std::string_view after;
      while (lines.next(after)) {
        if (!after.empty()) bad(lines.at() + "a point after a blank line");
      }
      break;
    }
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

// "##NAME=value" with the value's "$$" comment dropped.
struct Label {
  std::string_view name, value;
};

Label labelOf(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {line.substr(2), {}};
  std::string_view value = line.substr(equals + 1);
  value = value.substr(0, value.find("$$"));
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return {line.substr(2, equals - 2), value};
}

// The header's labels, then (X++(Y..Y)) lines: the index of the line's first value, then whole
// numbers that YFACTOR scales to volts.
InterferogramRecord readJcamp(std::string_view text) {
  InterferogramRecord record;
  Lines lines(text);
  std::string_view line;
  std::optional<double> factor;
  std::optional<long long> declared;
  bool interferogram = false;
  bool data = false;
  while (!data && lines.next(line)) {
    if (!line.starts_with("##")) continue;  // a comment or a continued value
    const auto [name, value] = labelOf(line);
    if (name == "TITLE") {
      record.title = std::string(value.starts_with(kJcampTitlePrefix) ? value.substr(kJcampTitlePrefix.size()) : value);
    } else if (name == "SPECTROMETER/DATA SYSTEM") {
      record.benchIdentity = benchIdentityOf(value);
    } else if (name == "LONGDATE") {
      record.timestampMs = longDateMs(value);
    } else if (name == "DATA TYPE") {
      if (value != "INFRARED INTERFEROGRAM") bad("it is a JCAMP-DX file of " + quoted(value) + ", not an interferogram");
      interferogram = true;
    } else if ((name == "XFACTOR" || name == "DELTAX") && value != "1") {
      bad(lines.at() + "##" + std::string(name) + " is " + quoted(value) + ", not 1 as in dorvane's interferograms");
    } else if (name == "FIRSTX" && value != "0") {
      bad(lines.at() + "##FIRSTX is " + quoted(value) + ", not 0 as in dorvane's interferograms");
    } else if (name == "YFACTOR") {
      factor = finiteValue(lines, value);
      if (*factor <= 0) bad(lines.at() + "##YFACTOR " + quoted(value) + " is not above 0");
    } else if (name == "NPOINTS") {
      declared = integerIn(lines, "point count", value, 1, kLargestInterferogramPoints);
    } else if (name == "$SCANS") {
      record.scans = static_cast<std::int32_t>(integerIn(lines, "scan count", value, 1, INT32_MAX));
    } else if (name == "$GAIN") {
      record.gain = static_cast<std::int32_t>(integerIn(lines, "gain", value, INT32_MIN, INT32_MAX));
    } else if (name == "$LASER WAVENUMBER") {
      setLaserWavenumber(record, lines, value);
    } else if (name == "$UNDERSAMPLING") {
      setUndersampling(record, lines, value);
    } else if (name == "XYDATA") {
      if (value != "(X++(Y..Y))") bad(lines.at() + "the data are " + quoted(value) + ", not (X++(Y..Y)) as dorvane writes them");
      data = true;
    } else if (name == "END") {
      break;
    }
  }
  if (!interferogram) bad("it has no ##DATA TYPE=INFRARED INTERFEROGRAM");
  if (!data) bad("it has no ##XYDATA");
  if (!factor) bad("it has no ##YFACTOR before its data");
  if (!declared) bad("it has no ##NPOINTS before its data");
  record.volts.reserve(static_cast<std::size_t>(*declared));
  bool ended = false;
  while (!ended && lines.next(line)) {
    if (line.starts_with("##")) {
      ended = labelOf(line).name == "END";
      if (!ended) bad(lines.at() + quoted(line) + " inside the data");
      continue;
    }
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
  if (!ended) bad("it ends before ##END= (cut short?)");
  checkPointCount(record.volts.size(), declared);
  return record;
}

}  // namespace

InterferogramReading readInterferogramFile(const std::string& path) {
  namespace fs = std::filesystem;
  InterferogramReading reading;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) {
    reading.failure = "no such file";
    return reading;
  }
  if (fs::is_directory(status)) {
    reading.failure = "it is a folder";
    return reading;
  }
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) {
    reading.failure = "cannot read it: " + error.message();
    return reading;
  }
  if (size > kLargestInterferogramFile) {
    reading.failure = "it is larger than " + std::to_string(kLargestInterferogramFile >> 20) + " MiB: no interferogram of dorvane's is";
    return reading;
  }
  std::ifstream file(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!file || !file.read(text.data(), static_cast<std::streamsize>(text.size()))) {
    reading.failure = "cannot read it";
    return reading;
  }
  try {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
      reading.failure = "it is empty";
    } else if (std::string_view(text).starts_with(kCsvStart)) {
      reading.record = readCsv(text);
    } else if (std::string_view(text).starts_with(kJcampStart)) {
      reading.record = readJcamp(text);
    } else {
      reading.failure = "not an interferogram saved by dorvane (its CSV or JCAMP-DX files)";
    }
  } catch (const BadContent& content) {
    reading.failure = content.what;
    reading.record = {};
  }
  return reading;
}

}  // namespace dorvane::host
