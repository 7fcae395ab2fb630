// The CSV and JCAMP-DX files of an interferogram, members of its file set (whole_file.h), and the
// names, times and error lines they share with the PNG plot.
#include "host/files/interferogram_files.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "dorvane_spectra.h"
#include "host/files/file_text.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

// A JCAMP-DX setup label keeps at least this much room for its value.
constexpr std::size_t kLongestSetupName = 40;
// 9999-12-31T23:59:59.999Z and one: later times are no clock reading but garbage.
constexpr double kEndOfYear9999Ms = 253402300800000.0;

bool timestampKnown(double timestampMs) { return timestampMs > 0 && timestampMs < kEndOfYear9999Ms; }

struct UtcTime {
  std::tm fields{};
  int milliseconds = 0;
};

// The calendar worked out here, not by gmtime_r, which Windows lacks.
UtcTime utcTime(double timestampMs) {
  using namespace std::chrono;
  const double wholeMs = std::floor(timestampMs);
  const auto seconds = static_cast<std::int64_t>(std::floor(wholeMs / 1000));
  const sys_seconds moment{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(moment);
  const year_month_day date(day);
  const hh_mm_ss clock(moment - day);
  UtcTime time;
  time.fields.tm_year = static_cast<int>(date.year()) - 1900;
  time.fields.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  time.fields.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  time.fields.tm_hour = static_cast<int>(clock.hours().count());
  time.fields.tm_min = static_cast<int>(clock.minutes().count());
  time.fields.tm_sec = static_cast<int>(clock.seconds().count());
  time.fields.tm_wday = static_cast<int>(weekday(day).c_encoding());
  time.fields.tm_yday = static_cast<int>((day - sys_days(date.year() / January / 1)).count());
  time.milliseconds = static_cast<int>(wholeMs - static_cast<double>(seconds) * 1000);
  return time;
}

std::string formatted(const char* format, const UtcTime& time) {
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, format, &time.fields);
  return std::string(text, length);
}

// "10:53:26.123": the time of day in UTC, to the millisecond.
std::string utcClockText(double timestampMs) {
  const UtcTime time = utcTime(timestampMs);
  char milliseconds[8];
  std::snprintf(milliseconds, sizeof milliseconds, ".%03d", time.milliseconds);
  return formatted("%H:%M:%S", time) + milliseconds;
}

// "2026-12-07T10:53:26.123Z": ISO 8601 in UTC, to the millisecond.
std::string isoUtcText(double timestampMs) {
  return formatted("%Y-%m-%dT", utcTime(timestampMs)) + utcClockText(timestampMs) + "Z";
}

// The sampling and the ZPD, as both files carry them.
std::vector<FileParameter> samplingParameters(const InterferogramRecord& record) {
  std::vector<FileParameter> parameters;
  if (record.laserWavenumber) parameters.push_back({"laser wavenumber", numberText(*record.laserWavenumber), "cm-1", ""});
  if (record.undersampling) parameters.push_back({"undersampling", std::to_string(*record.undersampling), "", kUndersamplingNote});
  const std::optional<std::int32_t> zpd = zpdIndexOf(record.volts);
  parameters.push_back({"zpd index", zpd ? std::to_string(*zpd) : "unknown", "", zpd ? "the centre burst's peak" : ""});
  return parameters;
}

constexpr const char* kMeanVolts = "volts, the mean of the co-added scans";

std::string countText(const std::optional<std::int32_t>& count) { return count ? std::to_string(*count) : "unknown"; }

// What the user said, as one line of printable text; empty when nothing was said.
std::string saidText(std::string_view said) { return trimmed(printableAscii(said)); }

// ---- CSV ---------------------------------------------------------------------------------------

std::string csvText(const InterferogramRecord& record) {
  std::string text;
  text.reserve(512 + record.volts.size() * 28);
  text += "# dorvane interferogram: " + printableAscii(record.title) + "\n";
  for (const auto& [name, said] : {std::pair{"sample", &record.sample}, std::pair{"operator", &record.operatorName},
                                   std::pair{"comment", &record.comment}}) {
    if (const std::string line = saidText(*said); !line.empty()) text += std::string("# ") + name + ": " + line + "\n";
  }
  if (timestampKnown(record.timestampMs)) {
    text += "# date: " + utcTimeText("%Y-%m-%d", record.timestampMs) + "\n";
    text += "# time: " + utcClockText(record.timestampMs) + " UTC (" + numberText(record.timestampMs) +
            " ms since 1970-01-01 00:00:00 UTC)\n";
  }
  if (timestampKnown(record.startedMs)) {
    text += "# started: " + isoUtcText(record.startedMs) + " (" + numberText(record.startedMs) + " ms since 1970-01-01 00:00:00 UTC)\n";
  }
  if (!record.benchDate.empty()) text += "# bench date: " + trimmed(printableAscii(record.benchDate)) + "\n";
  if (!timestampKnown(record.timestampMs) && record.benchDate.empty()) text += "# time: unknown\n";
  text += "# scans: " + countText(record.scans) + "\n";
  text += std::string("# values: ") + kMeanVolts + "\n";
  text += "# gain: " + countText(record.gain) + "\n";
  text += "# points: " + std::to_string(record.volts.size()) + "\n";
  text += "# bench: " + benchName(record.benchIdentity) + "\n";
  appendCsvParameters(text, samplingParameters(record));
  text += "index,volts\n";
  long long index = 0;
  for (const double value : record.volts) {
    appendWhole(text, index++);
    text += ',';
    appendNumber(text, value);
    text += '\n';
  }
  return text;
}

// ---- JCAMP-DX ----------------------------------------------------------------------------------

// A setup field's name as part of a label: '=' would end the label early.
std::string setupLabelName(std::string_view name) {
  std::string label;
  for (const char c : name.substr(0, kLongestSetupName)) {
    const bool kept = std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._-[]()", c) != nullptr;
    label += kept ? c : '_';
  }
  return label;
}

// getSetup's text: "Bench Setup:  first.field value" and then one "  field value" per line.
void appendSetupLabels(std::string& text, std::string_view setup) {
  constexpr std::string_view kBanner = "Bench Setup:";
  bool firstLine = true;
  while (!setup.empty()) {
    const std::size_t end = setup.find('\n');
    std::string line = trimmed(printableAscii(setup.substr(0, end)));
    setup.remove_prefix(end == std::string_view::npos ? setup.size() : end + 1);
    if (firstLine && line.starts_with(kBanner)) line = trimmed(line.substr(kBanner.size()));
    firstLine = false;
    if (line.empty()) continue;
    const std::size_t space = line.find(' ');
    const std::string name = line.substr(0, space);
    const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
    appendLabel(text, "$SETUP " + setupLabelName(name), jcampValue(value));
  }
}

// jcampconverter, like other readers that build a number digit by digit, can miss the last bit of a
// decimal fraction and takes no exponent inside XYDATA. Whole numbers below 2^53 times a power of
// two come back exact in every reader, so each value is written as m with value = m * 2^-shift.
struct ScaledValues {
  int shift = 0;
  std::vector<double> wholes;  // integral, |m| <= 2^53; -0.0 stays -0.0
};

ScaledValues scaledValues(const std::vector<double>& volts) {
  constexpr int kSignificandBits = 53;
  int finestShift = INT_MIN;  // the least shift that makes every value whole
  int widestExponent = INT_MIN;
  for (const double value : volts) {
    if (value == 0) continue;
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(value), &exponent);  // value = fraction * 2^exponent
    const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, kSignificandBits));
    finestShift = std::max(finestShift, kSignificandBits - exponent - std::countr_zero(significand));
    widestExponent = std::max(widestExponent, exponent);
  }
  ScaledValues scaled;
  // Values spanning more than 53 bits (never the driver's) round to the grid of the largest one.
  if (finestShift != INT_MIN) scaled.shift = std::min(finestShift, kSignificandBits - widestExponent);
  scaled.wholes.reserve(volts.size());
  for (const double value : volts) scaled.wholes.push_back(std::nearbyint(std::ldexp(value, scaled.shift)));
  return scaled;
}

void appendWholeValue(std::string& text, double whole) {
  if (whole == 0 && std::signbit(whole)) {
    text += "-0";
    return;
  }
  appendWhole(text, static_cast<long long>(whole));
}

// (X++(Y..Y)) in plain AFFN: each line opens with the index of its first value.
void appendDataLines(std::string& text, const std::vector<double>& wholes) {
  std::string line;
  std::string value;
  for (std::size_t index = 0; index < wholes.size(); ++index) {
    value.clear();
    appendWholeValue(value, wholes[index]);
    if (!line.empty() && line.size() + 1 + value.size() > kJcampLineWidth) {
      text += line;
      text += '\n';
      line.clear();
    }
    if (line.empty()) appendWhole(line, static_cast<long long>(index));
    line += ' ';
    line += value;
  }
  if (!line.empty()) text += line + '\n';
}

std::string jcampText(const InterferogramRecord& record) {
  const ScaledValues scaled = scaledValues(record.volts);
  const double factor = std::ldexp(1.0, -scaled.shift);
  const auto [lowest, highest] = std::minmax_element(scaled.wholes.begin(), scaled.wholes.end());
  const std::size_t points = record.volts.size();

  std::string text;
  text.reserve(2048 + points * 20);
  const std::string sample = saidText(record.sample);
  appendJcampOpening(text, sample.empty() ? "dorvane interferogram, " + record.title : sample, "INFRARED INTERFEROGRAM",
                     record.operatorName);
  if (timestampKnown(record.timestampMs)) {
    // DATE and TIME as JCAMP-DX 4.24 has them (a two-digit year), LONGDATE as later versions do.
    appendLabel(text, "DATE", utcTimeText("%y/%m/%d", record.timestampMs));
    appendLabel(text, "TIME", utcTimeText("%H:%M:%S", record.timestampMs));
    appendLabel(text, "LONGDATE", utcTimeText("%Y/%m/%d %H:%M:%S +0000", record.timestampMs));
  }
  std::string system = "FTIR bench";
  if (record.benchIdentity != 0) system.append(" ").append(benchName(record.benchIdentity));
  appendLabel(text, "SPECTROMETER/DATA SYSTEM", system);
  // A label of its own, which readers keep; "$$" comment lines they drop or run into the label before.
  if (const std::string comment = saidText(record.comment); !comment.empty()) appendLabel(text, "$COMMENT", jcampValue(comment));
  if (timestampKnown(record.timestampMs)) appendLabel(text, "$TIMESTAMP MS", numberText(record.timestampMs));
  if (timestampKnown(record.startedMs)) appendLabel(text, "$STARTED MS", numberText(record.startedMs));
  if (record.scans) appendLabel(text, "$SCANS", std::to_string(*record.scans));
  appendLabel(text, "$VALUES", kMeanVolts);
  if (record.gain) appendLabel(text, "$GAIN", std::to_string(*record.gain));
  appendLabel(text, "$POINTS", std::to_string(points));
  std::vector<FileParameter> sampling = samplingParameters(record);
  // JCAMP-DX leaves out what is not known rather than write a word where a number belongs.
  std::erase_if(sampling, [](const FileParameter& parameter) { return parameter.value == "unknown"; });
  appendJcampParameters(text, sampling);
  if (!record.benchDate.empty()) appendLabel(text, "$BENCH DATE", jcampValue(record.benchDate));
  appendSetupLabels(text, record.setupText);
  appendLabel(text, "XUNITS", "POINTS");
  appendLabel(text, "YUNITS", "VOLTS");
  appendLabel(text, "XFACTOR", "1");
  appendLabel(text, "YFACTOR", jcampNumberText(factor));
  appendLabel(text, "FIRSTX", "0");
  appendLabel(text, "LASTX", std::to_string(points - 1));
  appendLabel(text, "DELTAX", "1");
  appendLabel(text, "FIRSTY", jcampNumberText(scaled.wholes.front() * factor));
  appendLabel(text, "MAXY", jcampNumberText(*highest * factor));
  appendLabel(text, "MINY", jcampNumberText(*lowest * factor));
  appendLabel(text, "NPOINTS", std::to_string(points));
  appendLabel(text, "XYDATA", "(X++(Y..Y))");
  appendDataLines(text, scaled.wholes);
  appendLabel(text, "END", "");
  return text;
}

}  // namespace

std::string benchName(std::int32_t identity) {
  if (identity == 0) return "unknown";
  const auto bits = static_cast<std::uint32_t>(identity);
  return "family " + std::to_string(bits >> 16) + " model " + std::to_string(bits & 0xFFFFu);
}

std::string recordTimeText(const InterferogramRecord& record) {
  try {
    if (timestampKnown(record.timestampMs)) return isoUtcText(record.timestampMs);
    return trimmed(printableAscii(record.benchDate));
  } catch (const std::exception&) {
    return {};
  }
}

std::string utcTimeText(const char* format, double timestampMs) { return formatted(format, utcTime(timestampMs)); }

std::int32_t undersamplingOf(std::int32_t lasersamp) {
  return lasersamp == 1 || lasersamp == 2 || lasersamp == 4 || lasersamp == 8 ? lasersamp : 2;
}

double defaultLaserWavenumber() {
  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  return options.laser_wavenumber;
}

std::optional<std::int32_t> zpdIndexOf(const std::vector<double>& volts) {
  if (volts.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  dorvane_spectrum_options options;
  dorvane_spectrum_default_options(&options);
  std::int32_t zpd = 0;
  const std::int32_t result = dorvane_spectrum_find_zpd(volts.data(), static_cast<std::int32_t>(volts.size()), &options, &zpd);
  if (result != DORVANE_SPECTRA_OK) return std::nullopt;
  return zpd;
}

FileSetMember interferogramCsv(const InterferogramRecord& record, const std::string& path) {
  return {path, [&record](TemporaryFile& file) { return file.write(csvText(record)); }};
}

FileSetMember interferogramJcamp(const InterferogramRecord& record, const std::string& path) {
  return {path, [&record](TemporaryFile& file) {
            if (record.volts.empty()) return cannotWrite(file.target(), "the interferogram has no points");
            for (std::size_t index = 0; index < record.volts.size(); ++index) {
              if (!std::isfinite(record.volts[index])) {
                return cannotWrite(file.target(), "point " + std::to_string(index) + " is not a finite number");
              }
            }
            return file.write(jcampText(record));
          }};
}

std::string storedBlockStem(std::string_view benchDate, std::int32_t index) {
  const std::string undated = "stored-block-" + std::to_string(index) + "-undated";
  // "Www Mmm DD hh:mm:ss:cc", exactly.
  constexpr std::string_view kShape = "AAA AAA 00 00:00:00:00";
  if (benchDate.size() != kShape.size()) return undated;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    // The names ('A') are looked up below.
    const char c = benchDate[i];
    const bool fits = kShape[i] == 'A' || (kShape[i] == '0' ? c >= '0' && c <= '9' : c == kShape[i]);
    if (!fits) return undated;
  }
  constexpr std::string_view kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The longest day of each month; with no year, February may have its 29th.
  constexpr int kLongestDay[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const std::string_view weekday = benchDate.substr(0, 3);
  const std::string_view month = benchDate.substr(4, 3);
  const auto number = [&benchDate](std::size_t at) { return (benchDate[at] - '0') * 10 + (benchDate[at + 1] - '0'); };
  const auto monthAt = std::find(std::begin(kMonths), std::end(kMonths), month);
  if (std::find(std::begin(kWeekdays), std::end(kWeekdays), weekday) == std::end(kWeekdays) || monthAt == std::end(kMonths)) {
    return undated;
  }
  const int day = number(8);
  if (day < 1 || day > kLongestDay[monthAt - std::begin(kMonths)] || number(11) > 23 || number(14) > 59 || number(17) > 59) {
    return undated;
  }
  // Every character is now one of a known few: the stem holds nothing the bench chose freely.
  return "stored-block-" + std::string(month) + std::string(benchDate.substr(8, 2)) + "-" + std::string(benchDate.substr(11, 2)) +
         std::string(benchDate.substr(14, 2)) + std::string(benchDate.substr(17, 2)) + "." + std::string(benchDate.substr(20, 2));
}

std::optional<std::int64_t> setupValue(std::string_view setupText, std::string_view name) {
  constexpr std::string_view kBanner = "Bench Setup:";
  while (!setupText.empty()) {
    const std::size_t end = setupText.find('\n');
    std::string_view line = setupText.substr(0, end);
    setupText.remove_prefix(end == std::string_view::npos ? setupText.size() : end + 1);
    if (line.starts_with(kBanner)) line.remove_prefix(kBanner.size());
    while (line.starts_with(' ')) line.remove_prefix(1);
    if (!line.starts_with(name) || line.substr(name.size(), 1) != " ") continue;
    line.remove_prefix(name.size() + 1);
    std::int64_t value = 0;
    const auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    const bool whole = error == std::errc{} && (next == line.data() + line.size() || *next == ' ');
    if (!whole) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::optional<std::int32_t> storedBlockScans(std::string_view setupText) {
  // Both are 16-bit fields of the setup record.
  const auto scans = [setupText](std::string_view name) -> std::optional<std::int32_t> {
    const std::optional<std::int64_t> value = setupValue(setupText, name);
    if (!value || *value < 0 || *value > 0xFFFF) return std::nullopt;
    return static_cast<std::int32_t>(*value);
  };
  const std::optional<std::int32_t> sample = scans("sampScans");
  const std::optional<std::int32_t> background = scans("bkgScans");
  if (!sample || !background || *sample == 0) return std::nullopt;
  if (*background != *sample && *background != 0) return std::nullopt;
  return sample;
}

}  // namespace dorvane::host
