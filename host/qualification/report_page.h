// Placeholder until the report page lands: the types the figures hand it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::host::qualification {
struct Curve {
  std::vector<double> wavenumbers, values;
};
struct FigureTrend {
  std::string name, unit;
  std::optional<double> least, most;
  std::vector<std::string> made;
  std::vector<double> values;
};
std::string reportPage(const nlohmann::ordered_json& report, const Curve& film, const Curve& line,
                       const std::vector<FigureTrend>& trends);
}  // namespace dorvane::host::qualification
