// A qualification's settings: what it acquires and the limits of its tests, each with its default
// and where that comes from. Read from an INI file of one [Qualification] section (every key may be
// left out: it then keeps its default), written into each run's report, and read back from a report
// by `qualify --from`, so that a report is remade with the limits it was made with.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "dorvane_spectra.h"

namespace dorvane::host::qualification {

struct QualificationSettings {
  std::string path;  // the file they were read from; empty: the defaults
  std::optional<std::int32_t> points;  // none: the bench's best
  std::int32_t scans = 64;
  dorvane_qualify_limits limits{};
};

// The defaults: the spectra library's limits, the bench's best points, 64 scans.
QualificationSettings defaultSettings();

// Reads `path`. Throws HostFailure (usage) with one line naming the file, the line and the key for
// an unknown key, a value that is no number or out of its range, or a list of the wrong length.
QualificationSettings readSettings(const std::string& path);

// The settings as an INI file, every key with its value and, in a comment, what it is and where its
// default comes from: `dorvane qualify --write-settings` and docs/qualification.ini.
std::string settingsText(const QualificationSettings& settings);

// The report's "limits": {"file", "values" {key: value}, "sources" {key: where the default comes from}}.
nlohmann::ordered_json limitsJson(const QualificationSettings& settings);
// The limits back from a report's "limits" (its "values"), with `points` and `scans` from its
// "acquisition". Throws HostFailure naming `what` for a report that lacks one.
QualificationSettings settingsFromReport(const nlohmann::ordered_json& report, const std::string& what);

}  // namespace dorvane::host::qualification
