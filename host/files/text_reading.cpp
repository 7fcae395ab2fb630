// The shared part of reading the host's files back: a bounded whole-file read, lines, numbers, labels.
#include "host/files/text_reading.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "host/text/text.h"

namespace dorvane::host::text_reading {
namespace {

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

}  // namespace

void bad(std::string what) { throw BadContent{std::move(what)}; }

std::string contentFailure(const std::function<void()>& read) {
  try {
    read();
    return {};
  } catch (const BadContent& content) {
    return content.what;
  }
}

std::string fileOpening(const std::string& path, std::size_t bytes) {
  std::ifstream file(path, std::ios::binary);
  std::string opening(bytes, '\0');
  file.read(opening.data(), static_cast<std::streamsize>(opening.size()));
  opening.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
  return opening;
}

std::string savedFileText(const std::string& path, std::uintmax_t largest, std::string_view noun) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) bad("no such file");
  if (fs::is_directory(status)) bad("it is a folder");
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) bad("cannot read it: " + error.message());
  if (size > largest) {
    bad("it is larger than " + std::to_string(largest >> 20) + " MiB: no " + std::string(noun) + " of dorvane's is");
  }
  std::ifstream file(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!file || !file.read(text.data(), static_cast<std::streamsize>(text.size()))) bad("cannot read it");
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) bad("it is empty");
  return text;
}

std::string quoted(std::string_view text) {
  std::string shown = printableAscii(text.substr(0, kQuotedLength));
  if (text.size() > kQuotedLength) shown += "...";
  return "\"" + shown + "\"";
}

bool Lines::next(std::string_view& line) {
  if (rest_.empty()) return false;
  const std::size_t end = rest_.find('\n');
  line = rest_.substr(0, end);
  rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  ++number_;
  return true;
}

std::vector<std::string_view> csvFields(std::string_view line) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    parts.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

bool nextCsvRow(Lines& lines, std::string_view& line) {
  if (!lines.next(line)) return false;
  if (!line.empty()) return true;
  std::string_view after;
  while (lines.next(after)) {
    if (!after.empty()) bad(lines.at() + "a point after a blank line");
  }
  return false;
}

bool nextJcampDataLine(Lines& lines, std::string_view& line) {
  if (!lines.next(line)) bad("it ends before ##END= (cut short?)");
  if (!line.starts_with("##")) return true;
  if (labelOf(line).name != "END") bad(lines.at() + quoted(line) + " inside the data");
  return false;
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

void checkPointCount(std::size_t count, std::optional<long long> declared) {
  if (count == 0) bad("it holds no points");
  if (declared && static_cast<std::size_t>(*declared) != count) {
    bad("it says " + std::to_string(*declared) + " points but holds " + std::to_string(count) + " (cut short?)");
  }
}

Label labelOf(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {line.substr(2), {}};
  std::string_view value = line.substr(equals + 1);
  value = value.substr(0, value.find("$$"));
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return {line.substr(2, equals - 2), value};
}

std::string readCsvHeader(Lines& lines, std::string_view start, std::string_view columns, const TakeLabel& take) {
  std::string_view line;
  lines.next(line);
  std::string title = trimmed(line.substr(start.size()));
  while (lines.next(line) && line.starts_with("#")) {
    const std::size_t colon = line.find(": ");
    if (colon != std::string_view::npos) take(line.substr(2, colon - 2), line.substr(colon + 2));
  }
  if (line != columns) bad(lines.at() + quoted(line) + " where the column names " + std::string(columns) + " belong");
  return title;
}

JcampHeader readJcampHeader(Lines& lines, const JcampKind& kind, const TakeLabel& take) {
  JcampHeader header;
  std::string_view line;
  while (!header.data && lines.next(line)) {
    if (!line.starts_with("##")) continue;  // a comment or a continued value
    const auto [name, value] = labelOf(line);
    if (name == "END") break;
    if (name == "TITLE") {
      header.title = value;
    } else if (name == "DATA TYPE") {
      if (value != kind.dataType) bad("it is a JCAMP-DX file of " + quoted(value) + ", not " + std::string(kind.named));
      header.typed = true;
    } else if (name == "NPOINTS") {
      header.declared = integerIn(lines, "point count", value, 1, static_cast<long long>(kind.largestPoints));
    } else if (name == "XYDATA") {
      if (value != kind.dataForm) {
        bad(lines.at() + "the data are " + quoted(value) + ", not " + std::string(kind.dataForm) + " as dorvane writes them");
      }
      header.data = true;
    }
    take(name, value);
  }
  return header;
}

}  // namespace dorvane::host::text_reading
