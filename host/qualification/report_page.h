// The qualification's report page: one self-contained HTML file (inline CSS and SVG, nothing fetched,
// no script needed) that a lab files beside qualification.json: the verdict, each test's table, the
// limits and their sources, the raw files' SHA-256, and pictures of the film, the 100 % line, the
// energy and each figure's history.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace dorvane::host::qualification {

struct Curve {
  std::vector<double> wavenumbers, values;  // %T against cm-1; a value not finite is missing
};

// One figure's history: its name and unit, its limits (none: no line), one value per earlier run and
// this one, oldest first (NaN: none that run), with each run's time (ISO 8601).
struct FigureTrend {
  std::string name, unit;
  std::optional<double> least, most;
  std::vector<std::string> made;
  std::vector<double> values;
};

// The page for `report` (qualification.json's object). Any part of the report may be missing, null
// or of another type (a run that failed a test outright has no figures for it): the page then says
// so where the part would be. Every string of the report is HTML-escaped.
std::string reportPage(const nlohmann::ordered_json& report, const Curve& film, const Curve& line,
                       const std::vector<FigureTrend>& trends);

}  // namespace dorvane::host::qualification
