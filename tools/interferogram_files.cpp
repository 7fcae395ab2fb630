// The CSV and JCAMP-DX files of an interferogram, and the whole-or-nothing writing they share with
// the PNG plot.
#include "tools/interferogram_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

namespace dorvane::host {
namespace {

constexpr std::size_t kJcampLineWidth = 80;
// A JCAMP-DX setup label keeps at least this much room for its value.
constexpr std::size_t kLongestSetupName = 40;
// 9999-12-31T23:59:59.999Z and one: later times are no clock reading but garbage.
constexpr double kEndOfYear9999Ms = 253402300800000.0;

std::string cannotWrite(const std::string& path, const std::string& reason) {
  return "cannot write " + shownPath(path) + ": " + reason;
}

std::string cannotWrite(const std::string& path, int error) {
  return cannotWrite(path, std::strerror(error));
}

// For a failure that threw (in practice std::bad_alloc); when even its line cannot be built, a line
// short enough to need no memory.
std::string thrownFailure(const std::string& path, const std::exception& thrown) noexcept {
  try {
    return cannotWrite(path, thrown.what());
  } catch (...) {
    return "out of memory";
  }
}

// Shortest text that reads back as the same double (std::to_chars' guarantee); "-0" keeps the sign.
void appendNumber(std::string& text, double value) {
  char digits[32];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, error == std::errc{} ? end : digits);
}

std::string numberText(double value) {
  std::string text;
  appendNumber(text, value);
  return text;
}

// JCAMP-DX writes exponents with a capital E.
std::string jcampNumberText(double value) {
  std::string text = numberText(value);
  std::replace(text.begin(), text.end(), 'e', 'E');
  return text;
}

void appendWhole(std::string& text, long long value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, error == std::errc{} ? end : digits);
}

int writeAll(int file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(file, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

bool timestampKnown(double timestampMs) { return timestampMs > 0 && timestampMs < kEndOfYear9999Ms; }

struct UtcTime {
  std::tm fields{};
  int milliseconds = 0;
};

UtcTime utcTime(double timestampMs) {
  const double wholeMs = std::floor(timestampMs);
  const auto seconds = static_cast<std::time_t>(std::floor(wholeMs / 1000));
  UtcTime time;
  time.milliseconds = static_cast<int>(wholeMs - static_cast<double>(seconds) * 1000);
  gmtime_r(&seconds, &time.fields);
  return time;
}

std::string formatted(const char* format, const UtcTime& time) {
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, format, &time.fields);
  return std::string(text, length);
}

// "2026-12-07T10:53:26.123Z": ISO 8601 in UTC, to the millisecond.
std::string isoUtcText(double timestampMs) {
  const UtcTime time = utcTime(timestampMs);
  char milliseconds[8];
  std::snprintf(milliseconds, sizeof milliseconds, ".%03dZ", time.milliseconds);
  return formatted("%Y-%m-%dT%H:%M:%S", time) + milliseconds;
}

// Removes the temporary file unless it was renamed into place, so an early return or a throw
// leaves nothing behind.
class TemporaryFile {
 public:
  TemporaryFile(int file, std::string path) : file_(file), path_(std::move(path)) {}
  ~TemporaryFile() {
    if (file_ >= 0) ::close(file_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int file() const { return file_; }
  const std::string& path() const { return path_; }
  // The descriptor's close is the last chance to hear of a failed write (NFS, quotas).
  int close() {
    const int result = ::close(file_);
    file_ = -1;
    return result == 0 ? 0 : errno;
  }
  void keep() { path_.clear(); }

 private:
  int file_;
  std::string path_;
};

// ---- CSV ---------------------------------------------------------------------------------------

std::string csvText(const InterferogramRecord& record) {
  std::string text;
  text.reserve(512 + record.volts.size() * 28);
  text += "# dorvane interferogram: " + printableAscii(record.title) + "\n";
  if (timestampKnown(record.timestampMs)) {
    text += "# time: " + isoUtcText(record.timestampMs) + " (" + numberText(record.timestampMs) +
            " ms since 1970-01-01 00:00:00 UTC)\n";
  }
  if (!record.benchDate.empty()) text += "# bench date: " + trimmed(printableAscii(record.benchDate)) + "\n";
  if (!timestampKnown(record.timestampMs) && record.benchDate.empty()) text += "# time: unknown\n";
  text += "# scans: " + (record.scans == 0 ? std::string("unknown") : std::to_string(record.scans)) + "\n";
  text += "# gain: " + std::to_string(record.gain) + "\n";
  text += "# points: " + std::to_string(record.volts.size()) + "\n";
  text += "# bench: " + benchName(record.benchIdentity) + "\n";
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

// A label's value on one line that no reader takes for more: "##" would start a label and "$$" a
// comment wherever they stand, so each pair is split with a space.
std::string jcampValue(std::string_view text) {
  const std::string ascii = trimmed(printableAscii(text));
  std::string value;
  value.reserve(ascii.size());
  for (const char c : ascii) {
    if ((c == '#' || c == '$') && !value.empty() && value.back() == c) value += ' ';
    value += c;
  }
  return value;
}

// A setup field's name as part of a label: '=' would end the label early.
std::string setupLabelName(std::string_view name) {
  std::string label;
  for (const char c : name.substr(0, kLongestSetupName)) {
    const bool kept = std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._-[]()", c) != nullptr;
    label += kept ? c : '_';
  }
  return label;
}

void appendLabel(std::string& text, std::string_view name, std::string_view value) {
  std::string line = "##" + std::string(name) + "=" + std::string(value);
  if (line.size() > kJcampLineWidth) line.resize(kJcampLineWidth);
  text += trimmed(line);
  text += '\n';
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
  appendLabel(text, "TITLE", jcampValue("dorvane interferogram, " + record.title));
  appendLabel(text, "JCAMP-DX", "4.24");
  appendLabel(text, "DATA TYPE", "INFRARED INTERFEROGRAM");
  appendLabel(text, "ORIGIN", "dorvane");
  appendLabel(text, "OWNER", "");
  if (timestampKnown(record.timestampMs)) {
    appendLabel(text, "LONGDATE", formatted("%Y/%m/%d %H:%M:%S +0000", utcTime(record.timestampMs)));
  }
  std::string system = "FTIR bench";
  if (record.benchIdentity != 0) system += " " + benchName(record.benchIdentity);
  appendLabel(text, "SPECTROMETER/DATA SYSTEM", system);
  if (timestampKnown(record.timestampMs)) appendLabel(text, "$TIMESTAMP MS", numberText(record.timestampMs));
  if (record.scans != 0) appendLabel(text, "$SCANS", std::to_string(record.scans));
  appendLabel(text, "$GAIN", std::to_string(record.gain));
  appendLabel(text, "$POINTS", std::to_string(points));
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

std::string saveText(const std::string& path, const std::string& text) {
  return replaceFileWhole(path, [&](int file, const std::string&) {
    const int error = writeAll(file, text);
    return error == 0 ? std::string() : cannotWrite(path, error);
  });
}

}  // namespace

// A file name as the error line shows it: a line break in it must not make two lines.
std::string shownPath(std::string path) {
  for (char& c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return path;
}

std::string benchName(std::int32_t identity) {
  if (identity == 0) return "unknown";
  const auto bits = static_cast<std::uint32_t>(identity);
  return "family " + std::to_string(bits >> 16) + " model " + std::to_string(bits & 0xFFFFu);
}

std::string printableAscii(std::string_view text) {
  std::string printable(text);
  for (char& c : printable) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      c = ' ';
    else if (byte > 0x7F)
      c = '?';
  }
  return printable;
}

std::string recordTimeText(const InterferogramRecord& record) {
  try {
    if (timestampKnown(record.timestampMs)) return isoUtcText(record.timestampMs);
    return trimmed(printableAscii(record.benchDate));
  } catch (const std::exception&) {
    return {};
  }
}

std::string replaceFileWhole(const std::string& path, const FillTemporary& fill) {
  try {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size());
    if (name.empty() || name == "." || name == "..") return cannotWrite(path, EISDIR);

    // Beside the target, so the rename stays on one file system; a dot name keeps it out of sight.
    static std::atomic<unsigned> serial{0};
    constexpr int kAttempts = 100;
    int file = -1;
    std::string temporaryPath;
    for (int attempt = 0; file < 0; ++attempt) {
      if (attempt == kAttempts) return cannotWrite(path, EEXIST);
      temporaryPath =
          folder + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
      file = ::open(temporaryPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (file < 0 && errno != EEXIST) return cannotWrite(path, errno);
    }
    TemporaryFile temporary(file, temporaryPath);

    std::string failure = fill(temporary.file(), temporary.path());
    if (!failure.empty()) return failure;
    if (::fsync(temporary.file()) != 0) return cannotWrite(path, errno);
    if (const int error = temporary.close(); error != 0) return cannotWrite(path, error);
    if (::rename(temporary.path().c_str(), path.c_str()) != 0) return cannotWrite(path, errno);
    temporary.keep();

    // The rename itself lasts only once the folder is synced; a failure here loses nothing written.
    const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
      ::fsync(directory);
      ::close(directory);
    }
    return {};
  } catch (const std::exception& thrown) {
    return thrownFailure(path, thrown);
  }
}

std::string saveCsv(const InterferogramRecord& record, const std::string& path) {
  try {
    return saveText(path, csvText(record));
  } catch (const std::exception& thrown) {
    return thrownFailure(path, thrown);
  }
}

std::string saveJcamp(const InterferogramRecord& record, const std::string& path) {
  try {
    if (record.volts.empty()) return cannotWrite(path, "the interferogram has no points");
    for (std::size_t index = 0; index < record.volts.size(); ++index) {
      if (!std::isfinite(record.volts[index])) {
        return cannotWrite(path, "point " + std::to_string(index) + " is not a finite number");
      }
    }
    return saveText(path, jcampText(record));
  } catch (const std::exception& thrown) {
    return thrownFailure(path, thrown);
  }
}

}  // namespace dorvane::host
