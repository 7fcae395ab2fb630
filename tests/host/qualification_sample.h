// A qualification's report as the host writes it (one band not found, the burst weak: a failed run),
// with a film, a 100 % line and a history made up to look like a real bench's, for the report page's
// tests and for looking at the page.
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "host/qualification/report_page.h"

namespace dorvane::testing {

nlohmann::ordered_json sampleQualificationReport();
// 65 536 points of %T from 400 to 4400 cm-1: polystyrene's strong bands as Lorentzians, a little noise.
host::qualification::Curve sampleFilm();
// Two backgrounds ratioed: 100 %T with noise that grows towards the ends of the range.
host::qualification::Curve sampleHundredPercentLine();
std::vector<host::qualification::FigureTrend> sampleTrends();

}  // namespace dorvane::testing
