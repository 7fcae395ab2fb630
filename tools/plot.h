// Drawing an interferogram to PNG with gnuplot (its pngcairo terminal, fed through a pipe): volts
// against point index, with labelled axes and the record's title.
#pragma once

#include <string>

#include "tools/interferogram_files.h"

namespace dorvane::host {

enum class PlotOutcome { Drawn, NoPlotter, Failed };

struct PlotResult {
  PlotOutcome outcome;
  std::string message;  // for NoPlotter and Failed: one line for the user
};

// The PNG appears whole or not at all, like the saved files.
PlotResult plotPng(const InterferogramRecord& record, const std::string& pngPath);

}  // namespace dorvane::host
