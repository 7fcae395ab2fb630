// The qualification's settings file: one table names every key, where it lives in the limits record,
// its bounds and where its default comes from; reading, writing and the report all walk it.
#include "host/qualification/qualification_settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <span>
#include <sstream>
#include <vector>

#include "host/files/file_text.h"
#include "host/instrument/settings_file.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"
#include "platform/ini.h"

namespace dorvane::host::qualification {
namespace {

constexpr const char* kSection = "Qualification";

constexpr const char* kPharmacopoeiaBands =
    "European Pharmacopoeia 2.2.24 and USP <854>: polystyrene's bands for the wavenumber check (NIST SRM 1921 "
    "certifies the same film)";
constexpr const char* kPharmacopoeiaTolerances =
    "European Pharmacopoeia 2.2.24: ±1.5 cm-1 at 3060.0, 2849.5 and 1942.9, ±1.0 cm-1 at the others";
constexpr const char* kPharmacopoeiaResolution =
    "European Pharmacopoeia 2.2.24, for a polystyrene film about 0.04 mm thick: %T at the maximum near 2870 cm-1 "
    "less %T at the minimum at 2849.5 cm-1 more than 18; near 1589 less at 1583 cm-1 more than 12";

// A key of the file: a number, or a list of them, in the limits record.
struct Key {
  const char* name;
  std::function<std::span<double>(dorvane_qualify_limits&)> values;
  double low, high;  // bounds of each value
  const char* what;
  const char* source;
};

template <std::size_t N>
std::span<double> all(double (&values)[N]) {
  return {values, N};
}

const std::vector<Key>& keys() {
  using L = dorvane_qualify_limits;
  static const std::vector<Key> table = {
      {"band_positions", [](L& l) { return all(l.band_positions); }, 400, 8000,
       "cm-1: the film's bands whose positions are checked", kPharmacopoeiaBands},
      {"band_tolerances", [](L& l) { return all(l.band_tolerances); }, 0.01, 50,
       "cm-1 either way, one for each band", kPharmacopoeiaTolerances},
      {"band_window", [](L& l) { return std::span<double>(&l.band_window, 1); }, 0.5, 50,
       "cm-1 either side of a band's listed position where it is looked for",
       "ours: a band shifted well past its tolerance is still found and measured, and no neighbour is taken for it"},
      {"band_least_depth", [](L& l) { return std::span<double>(&l.band_least_depth, 1); }, 0, 100,
       "%T a band's minimum lies below the highest %T on each side of it within the window",
       "ours: well above the noise of a line with no film in the beam, well below the shallowest band checked"},
      {"resolution_maxima", [](L& l) { return all(l.resolution_maxima); }, 400, 8000,
       "cm-1: where each pair's %T maximum lies", kPharmacopoeiaResolution},
      {"resolution_minima", [](L& l) { return all(l.resolution_minima); }, 400, 8000,
       "cm-1: where each pair's %T minimum lies", kPharmacopoeiaResolution},
      {"resolution_windows", [](L& l) { return all(l.resolution_windows); }, 0.1, 50,
       "cm-1 either side of each pair's positions where its maximum and minimum are looked for",
       "ours: about the width of the band at half its depth, so that no neighbouring band is taken"},
      {"resolution_least", [](L& l) { return all(l.resolution_least); }, 0, 100,
       "%T each pair's difference must pass", kPharmacopoeiaResolution},
      {"resolution_coarsest", [](L& l) { return std::span<double>(&l.resolution_coarsest, 1); }, 0.01, 64,
       "cm-1: the coarsest nominal resolution at which the check can pass",
       "ours: 1583 and 1589 cm-1 lie 6 cm-1 apart; coarser than this the apodized line shape runs them together"},
      {"noise_low", [](L& l) { return all(l.noise_low); }, 400, 8000, "cm-1: where each noise range begins",
       "ASTM E1421 measures the 100 % line's noise over ranges of this kind; 2000-2200 cm-1 is the pharmacopoeias' "
       "usual range, 1000-1100 cm-1 the fingerprint region's, both clear of water vapour and CO2"},
      {"noise_high", [](L& l) { return all(l.noise_high); }, 400, 8000, "cm-1: where each noise range ends",
       "as noise_low"},
      {"noise_rms_most", [](L& l) { return std::span<double>(&l.noise_rms_most, 1); }, 0, 100,
       "%T: the largest RMS noise of the 100 % line in each range",
       "ours: between two and three times what the virtual bench's healthy detector shows at the default 64 scans "
       "and the best resolution (0.15 and 0.29 %T); the noise grows as the square root of the points over the scans, "
       "so set it from your own bench's healthy figures at your settings"},
      {"noise_peak_to_peak_most", [](L& l) { return std::span<double>(&l.noise_peak_to_peak_most, 1); }, 0, 100,
       "%T: the largest peak-to-peak noise in each range", "ours: about seven times the RMS limit, as Gaussian "
                                                            "noise's peak to peak over several hundred points is"},
      {"departure_low", [](L& l) { return std::span<double>(&l.departure_low, 1); }, 0, 8000,
       "cm-1: where the 100 % line's largest departure is sought from", "ours: the bench's useful range, above the low end where its light is too weak for a ratio"},
      {"departure_high", [](L& l) { return std::span<double>(&l.departure_high, 1); }, 0, 8000,
       "cm-1: and to", "ours: the bench's useful range"},
      {"departure_most", [](L& l) { return std::span<double>(&l.departure_most, 1); }, 0, 100,
       "%T: the largest departure of the 100 % line from 100 %T",
       "ours: two backgrounds a minute apart stay within it on a bench that has warmed up"},
      {"departure_stretch", [](L& l) { return std::span<double>(&l.departure_stretch, 1); }, 0.01, 1000,
       "cm-1: the line is taken as its means over stretches this wide when its departure is sought",
       "ours: wide enough that the noise's peaks average out, narrow enough to keep the line's bends"},
      {"energy_wavenumbers", [](L& l) { return all(l.energy_wavenumbers); }, 400, 8000,
       "cm-1: where the single beam's level is taken",
       "ours: 4400 cm-1 falls first when the interferometer loses alignment or the source cools, 2500 cm-1 is the "
       "middle, 1000 cm-1 the detector's and beamsplitter's low end; all clear of water vapour and CO2"},
      {"energy_half_width", [](L& l) { return std::span<double>(&l.energy_half_width, 1); }, 0.1, 200,
       "cm-1 either side of each wavenumber over which the level is averaged", "ours"},
      {"energy_least_share", [](L& l) { return std::span<double>(&l.energy_least_share, 1); }, 0.01, 1,
       "of the reference's level and burst: the least share that passes",
       "ours, in the spirit of ASTM E1421's level-zero test (the instrument against its own earlier results): a "
       "fall of more than 30 % is worth a look at the alignment and the source"},
      {"repeat_position_most", [](L& l) { return std::span<double>(&l.repeat_position_most, 1); }, 0, 50,
       "cm-1: the largest standard deviation of a band's position over the samples",
       "ours: a tenth of the tightest tolerance"},
      {"repeat_bands", [](L& l) { return all(l.repeat_bands); }, 400, 8000,
       "cm-1: the bands whose %T is followed over the samples (each one of band_positions)", "ours"},
      {"repeat_percent_most", [](L& l) { return std::span<double>(&l.repeat_percent_most, 1); }, 0, 100,
       "%T: the largest standard deviation of their %T over the samples", "ours"},
  };
  return table;
}

constexpr std::int32_t kMostSamples = 100;
constexpr std::int32_t kMostScans = 65535;
constexpr const char* kPointsSource = "the bench's best resolution, the most points the driver holds";
constexpr const char* kScansSource = "ours: enough for the 100 % line's noise and the bands' positions to sit well inside their limits";
constexpr const char* kSamplesSource = "ours: five, as repeatability checks commonly take";

std::optional<double> parseNumber(std::string_view text) {
  text = trimmed(text);
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

[[noreturn]] void refuse(const std::string& path, int line, const std::string& what) {
  throw HostFailure(path + " line " + std::to_string(line) + ": " + what + " (dorvane qualify --write-settings FILE writes "
                                                                            "every key with its default)",
                    kExitUsage);
}

std::int32_t wholeBetween(const std::string& path, const platform::ProfileEntry& entry, std::int32_t low, std::int32_t high) {
  const std::optional<double> value = parseNumber(entry.value);
  if (!value || *value != std::floor(*value) || *value < low || *value > high) {
    refuse(path, entry.line, entry.key + "=" + entry.value + " is no whole number from " + std::to_string(low) + " to " +
                                 std::to_string(high));
  }
  return static_cast<std::int32_t>(*value);
}

void readList(const std::string& path, const platform::ProfileEntry& entry, const Key& key, dorvane_qualify_limits& limits) {
  const std::span<double> values = key.values(limits);
  std::vector<double> read;
  std::string_view rest = entry.value;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::optional<double> value = parseNumber(rest.substr(0, comma));
    if (!value || *value < key.low || *value > key.high) {
      refuse(path, entry.line, entry.key + "=" + entry.value + ": each value must be a number from " + numberText(key.low) +
                                   " to " + numberText(key.high));
    }
    read.push_back(*value);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (read.size() != values.size()) {
    refuse(path, entry.line, entry.key + " takes " + std::to_string(values.size()) + (values.size() == 1 ? " number" : " numbers, comma-separated") +
                                 ", not " + std::to_string(read.size()));
  }
  std::copy(read.begin(), read.end(), values.begin());
}

std::string listText(std::span<const double> values) {
  std::string text;
  for (const double value : values) {
    if (!text.empty()) text += ',';
    appendNumber(text, value);
  }
  return text;
}

// Checks that hold between keys: ranges the right way round, the followed bands among the checked.
void checkTogether(const QualificationSettings& settings) {
  const dorvane_qualify_limits& l = settings.limits;
  const std::string where = settings.path.empty() ? "the qualification's settings" : settings.path;
  for (int i = 0; i < DORVANE_QUALIFY_NOISE_RANGES; ++i) {
    if (!(l.noise_low[i] < l.noise_high[i])) throw HostFailure(where + ": noise range " + std::to_string(i + 1) + " ends before it begins", kExitUsage);
  }
  if (!(l.departure_low < l.departure_high)) throw HostFailure(where + ": departure_low must be below departure_high", kExitUsage);
  for (const double band : l.repeat_bands) {
    if (std::find(std::begin(l.band_positions), std::end(l.band_positions), band) == std::end(l.band_positions)) {
      throw HostFailure(where + ": repeat_bands holds " + numberText(band) + ", which is not one of band_positions", kExitUsage);
    }
  }
}

}  // namespace

QualificationSettings defaultSettings() {
  QualificationSettings settings;
  dorvane_qualify_default_limits(&settings.limits);
  return settings;
}

QualificationSettings readSettings(const std::string& path) {
  QualificationSettings settings = defaultSettings();
  settings.path = path;
  const std::optional<std::vector<platform::ProfileEntry>> entries = platform::readProfileSection(kSection, path.c_str());
  if (!entries) throw HostFailure("cannot read the qualification settings " + path, kExitUsage);
  if (entries->empty()) throw HostFailure(path + " has no [" + std::string(kSection) + "] section: dorvane qualify --write-settings FILE writes one", kExitUsage);
  for (const platform::ProfileEntry& entry : *entries) {
    if (!entry.hasValue) refuse(path, entry.line, "'" + entry.key + "' has no value");
    std::string key = entry.key;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (key == "points") {
      settings.points = entry.value == "best" ? std::nullopt : std::optional(wholeBetween(path, entry, 1, kLargestPointsRequest));
    } else if (key == "scans") {
      settings.scans = wholeBetween(path, entry, 1, kMostScans);
    } else if (key == "repeat_samples") {
      settings.limits.repeat_samples = wholeBetween(path, entry, 2, kMostSamples);
    } else {
      const auto& table = keys();
      const auto found = std::find_if(table.begin(), table.end(), [&](const Key& k) { return key == k.name; });
      if (found == table.end()) refuse(path, entry.line, "unknown key '" + entry.key + "'");
      readList(path, entry, *found, settings.limits);
    }
  }
  checkTogether(settings);
  return settings;
}

std::string settingsText(const QualificationSettings& settings) {
  std::ostringstream text;
  dorvane_qualify_limits limits = settings.limits;
  text << "; dorvane qualify's settings: what a qualification acquires and the limits of its tests.\n"
          "; Every key may be left out: it then takes the default written here. Lists are comma-separated.\n"
          "; Each comment says what the key is and where its default comes from.\n"
       << "[" << kSection << "]\n"
       << "; points per interferogram, or best: " << kPointsSource << "\n"
       << "points=" << (settings.points ? std::to_string(*settings.points) : "best") << "\n"
       << "; scans co-added per interferogram; " << kScansSource << "\n"
       << "scans=" << settings.scans << "\n"
       << "; film measurements for the repeatability (2 to " << kMostSamples << "); " << kSamplesSource << "\n"
       << "repeat_samples=" << limits.repeat_samples << "\n";
  for (const Key& key : keys()) {
    text << "; " << key.what << "; " << key.source << "\n" << key.name << "=" << listText(key.values(limits)) << "\n";
  }
  return text.str();
}

nlohmann::ordered_json limitsJson(const QualificationSettings& settings) {
  dorvane_qualify_limits limits = settings.limits;
  nlohmann::ordered_json values = nlohmann::ordered_json::object(), sources = nlohmann::ordered_json::object();
  values["points"] = settings.points ? nlohmann::ordered_json(*settings.points) : nlohmann::ordered_json("best");
  sources["points"] = kPointsSource;
  values["scans"] = settings.scans;
  sources["scans"] = kScansSource;
  values["repeat_samples"] = limits.repeat_samples;
  sources["repeat_samples"] = kSamplesSource;
  for (const Key& key : keys()) {
    const std::span<double> list = key.values(limits);
    values[key.name] = list.size() == 1 ? nlohmann::ordered_json(list[0]) : nlohmann::ordered_json(std::vector<double>(list.begin(), list.end()));
    sources[key.name] = key.source;
  }
  return {{"file", settings.path.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(settings.path)},
          {"values", values},
          {"sources", sources}};
}

QualificationSettings settingsFromReport(const nlohmann::ordered_json& report, const std::string& what) {
  QualificationSettings settings = defaultSettings();
  try {
    const nlohmann::ordered_json& values = report.at("limits").at("values");
    if (report.at("limits").at("file").is_string()) settings.path = report["limits"]["file"].get<std::string>();
    const nlohmann::ordered_json& points = values.at("points");
    if (!points.is_string()) settings.points = points.get<std::int32_t>();
    settings.scans = values.at("scans").get<std::int32_t>();
    settings.limits.repeat_samples = values.at("repeat_samples").get<std::int32_t>();
    for (const Key& key : keys()) {
      const std::span<double> list = key.values(settings.limits);
      const nlohmann::ordered_json& value = values.at(key.name);
      if (list.size() == 1) {
        list[0] = value.get<double>();
      } else {
        const std::vector<double> read = value.get<std::vector<double>>();
        if (read.size() != list.size()) throw HostFailure(what + ": its limit " + key.name + " has " + std::to_string(read.size()) + " values, not " + std::to_string(list.size()), kExitUsage);
        std::copy(read.begin(), read.end(), list.begin());
      }
    }
  } catch (const nlohmann::json::exception& error) {
    throw HostFailure(what + ": its limits cannot be read (" + std::string(error.what()) + ")", kExitUsage);
  }
  return settings;
}

}  // namespace dorvane::host::qualification
