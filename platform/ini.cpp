// The INI reader, one parser for every platform. It reads the file line by line, so a huge or binary
// file costs no more memory than one line.
#include "platform/ini.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dorvane::platform {
namespace {

// Longer lines are cut here; no setting needs more.
constexpr std::size_t kMaxLineLength = 4096;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// Reads one line without its line end; false at the end of the file.
bool readLine(std::FILE* file, std::string& line) {
  line.clear();
  int c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    if (line.size() < kMaxLineLength) line.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  return true;
}

// The value's leading decimal integer, accumulated modulo 2^32 as the Windows reader does.
std::int32_t parseLeadingInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && static_cast<unsigned char>(value[i]) <= ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  std::uint32_t total = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    total = total * 10u + static_cast<std::uint32_t>(value[i] - '0');
  }
  if (negative) total = 0u - total;
  return static_cast<std::int32_t>(total);
}

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Calls `entry(name, value or none, line number)` for each line of `section`, in order, until it
// returns false. False when the file cannot be opened.
template <typename OnEntry>
bool forEachEntry(const char* section, const char* path, OnEntry entry) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return false;

  std::string line;
  bool inSection = false;
  int lineNumber = 0;
  while (readLine(file.get(), line)) {
    std::string_view text = line;
    if (++lineNumber == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    text = trim(text);
    if (text.empty()) continue;

    if (text.front() == '[') {
      const std::size_t close = text.rfind(']');
      if (close == std::string_view::npos) continue;  // not a valid header: neither section nor key
      inSection = equalsIgnoringCase(trim(text.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;

    const std::size_t equals = text.find('=');
    const std::string_view name = trim(text.substr(0, equals));
    const std::optional<std::string_view> value =
        equals == std::string_view::npos ? std::nullopt : std::optional(unquote(trim(text.substr(equals + 1))));
    if (!entry(name, value, lineNumber)) break;
  }
  return true;
}

}  // namespace

std::int32_t readProfileInt(const char* section, const char* key, std::int32_t defaultValue,
                            const char* path) {
  if (section == nullptr || key == nullptr || path == nullptr) return defaultValue;
  std::int32_t result = defaultValue;
  forEachEntry(section, path, [&](std::string_view name, std::optional<std::string_view> value, int) {
    if (!equalsIgnoringCase(name, key)) return true;
    // A key without a value, or with an empty one, gives the default.
    if (value && !value->empty()) result = parseLeadingInteger(*value);
    return false;
  });
  return result;
}

std::optional<std::vector<ProfileEntry>> readProfileSection(const char* section, const char* path) {
  if (section == nullptr || path == nullptr) return std::nullopt;
  std::vector<ProfileEntry> entries;
  const bool opened = forEachEntry(section, path, [&](std::string_view name, std::optional<std::string_view> value, int line) {
    entries.push_back({std::string(name), std::string(value.value_or("")), value.has_value(), line});
    return true;
  });
  if (!opened) return std::nullopt;
  return entries;
}

}  // namespace dorvane::platform
