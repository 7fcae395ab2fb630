// The settings file's keys, what each may hold, and the check the host makes before the driver
// reads the file.
#include "host/instrument/settings_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/ini.h"
#include "host/os/host_failure.h"
#include "host/files/interferogram_files.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

constexpr const char* kSection = "Settings";
constexpr std::uintmax_t kLargestSettingsFile = 1 << 20;

// The rates a serial port offers between the slowest a bench is run at and the fastest a UART takes.
constexpr std::int32_t kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr std::int32_t kLaserSampling[] = {1, 2, 4, 8};

struct KeyRule {
  const char* key;
  const char* meaning;
  std::int64_t low, high;
  // Set: only these values; low and high are then unused.
  const std::int32_t* values = nullptr;
  std::size_t valueCount = 0;
  const char* note = "";
};

template <std::size_t N>
KeyRule oneOf(const char* key, const char* meaning, const std::int32_t (&values)[N]) {
  return {key, meaning, 0, 0, values, N};
}

// Every key the driver reads, in the order it reads them.
const std::vector<KeyRule>& keyRules() {
  static const std::vector<KeyRule> rules = {
      {"fvel", "the forward mirror velocity code", 0, 16},
      {"rvel", "the reverse mirror velocity code", 0, 16},
      {"symmetry", "the interferogram symmetry code", 0, 255},
      {"points", "points per scan", 1, kLargestPointsRequest, nullptr, 0, pointsLimitNote().c_str()},
      {"gain", "the gain code", 0, 3},
      oneOf("lasersamp", "the laser sampling code", kLaserSampling),
      {"lpf", "the low-pass filter code (0: chosen by fvel)", 0, 8},
      {"port", "the serial port, numbered from 1", 1, 256},
      oneOf("baud", "the line's baud rate", kBaudRates),
      {"lturn", "the lturn value", 0, INT32_MAX},
      {"qturn", "the qturn value", 0, INT32_MAX},
      {"detector", "the detector code", 0, 4},
      {"iris", "the iris aperture", 0, 655},
      {"log", "the driver's log switch", 0, 1},
  };
  return rules;
}

std::string allowed(const KeyRule& rule) {
  std::string text = rule.meaning;
  if (rule.values != nullptr) {
    text += ", one of";
    for (std::size_t i = 0; i < rule.valueCount; ++i) text += (i == 0 ? " " : ", ") + std::to_string(rule.values[i]);
  } else {
    text += ", " + std::to_string(rule.low) + " to " + std::to_string(rule.high);
  }
  return text + rule.note;
}

// A whole number in decimal, nothing before or after it; none for anything else.
std::optional<std::int64_t> wholeNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool inRange(const KeyRule& rule, std::int64_t value) {
  if (rule.values == nullptr) return value >= rule.low && value <= rule.high;
  return std::find(rule.values, rule.values + rule.valueCount, value) != rule.values + rule.valueCount;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

const std::string& pointsLimitNote() {
  static const std::string note = " (the bench adds " + std::to_string(kBenchAddedPoints) +
                                  " points and the driver holds at most " + std::to_string(kLargestCoadd) + ")";
  return note;
}

std::string tooManyPoints(const std::string& what) {
  return what + " is more than the driver can take: the bench adds " + std::to_string(kBenchAddedPoints) +
         " points to the request and the driver holds at most " + std::to_string(kLargestCoadd) + ", so " +
         std::to_string(kLargestPointsRequest) + " is the largest";
}

CheckedSettings checkSettingsFile(const std::string& path) {
  const std::string shown = shownPath(path);
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw HostFailure("cannot read the settings file " + shown + ": it is a folder");
  if (!std::ifstream(path)) throw HostFailure("cannot read the settings file " + shown + ": " + std::strerror(errno));
  // Its entries are kept while they are checked: a file the size of no settings file is refused first.
  if (const std::uintmax_t size = std::filesystem::file_size(path, error); !error && size > kLargestSettingsFile) {
    throw HostFailure("cannot read the settings file " + shown + ": it holds " + std::to_string(size) +
                      " bytes, more than a settings file's " + std::to_string(kLargestSettingsFile));
  }
  const std::optional<std::vector<platform::ProfileEntry>> entries = platform::readProfileSection(kSection, path.c_str());
  if (!entries) throw HostFailure("cannot read the settings file " + shown + ": " + std::strerror(errno));

  CheckedSettings settings;
  settings.path = path;
  std::map<std::string, std::int64_t> values;
  std::map<std::string, int> firstLine;
  for (const platform::ProfileEntry& entry : *entries) {
    const std::string key = lowered(entry.key);
    const std::string where = shown + " line " + std::to_string(entry.line);
    const auto rule = std::find_if(keyRules().begin(), keyRules().end(), [&key](const KeyRule& r) { return key == r.key; });
    if (rule == keyRules().end()) {
      settings.warnings.push_back(where + ": unknown key " + printableAscii(entry.key) + " in [Settings] is ignored");
      continue;
    }
    if (const auto [first, isNew] = firstLine.emplace(key, entry.line); !isNew) {
      settings.warnings.push_back(where + ": " + key + " is given again; the driver reads the first, on line " +
                                  std::to_string(first->second));
      continue;
    }
    const std::optional<std::int64_t> value = wholeNumber(entry.value);
    if (!value || !inRange(*rule, *value)) {
      std::string given = key;
      if (entry.hasValue) {
        given += '=';
        given += printableAscii(entry.value);
      } else {
        given += " without a value";
      }
      throw HostFailure(where + ": " + given + (value ? " is out of range" : " is not a whole number") + ": " +
                        allowed(*rule));
    }
    values[key] = *value;
  }
  for (const char* required : {"port", "baud"}) {
    if (values.count(required) != 0) continue;
    const auto rule = std::find_if(keyRules().begin(), keyRules().end(), [required](const KeyRule& r) { return std::strcmp(r.key, required) == 0; });
    throw HostFailure(shown + ": no " + required + "= in [Settings]; the driver would take 0: give " + allowed(*rule));
  }
  settings.port = static_cast<std::int32_t>(values["port"]);
  settings.baud = static_cast<std::int32_t>(values["baud"]);
  if (values.count("points") != 0) settings.points = static_cast<std::int32_t>(values["points"]);
  if (values.count("lasersamp") != 0) settings.lasersamp = static_cast<std::int32_t>(values["lasersamp"]);
  return settings;
}

}  // namespace dorvane::host
