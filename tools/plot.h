// Drawing to PNG with gnuplot (its pngcairo terminal, fed through a pipe): an interferogram, volts
// against point index with the centre burst magnified below, and a spectrum against wavenumber,
// decreasing from left to right as spectroscopists read it, with its bands marked.
#pragma once

#include <string>

#include "tools/interferogram_files.h"
#include "tools/spectrum_files.h"

namespace dorvane::host {

enum class PlotOutcome { Drawn, NoPlotter, Failed };

struct PlotResult {
  PlotOutcome outcome;
  std::string message;  // for NoPlotter and Failed: one line for the user
};

// The PNG appears whole or not at all, like the saved files.
PlotResult plotPng(const InterferogramRecord& record, const std::string& pngPath);
// Missing points leave a gap in the line.
PlotResult plotSpectrumPng(const SpectrumRecord& record, const std::string& pngPath, Existing existing);

}  // namespace dorvane::host
