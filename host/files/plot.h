// Drawing to PNG with gnuplot (its pngcairo terminal, fed through a pipe): an interferogram, volts
// against point index with the centre burst magnified below, and a spectrum against wavenumber,
// decreasing from left to right as spectroscopists read it, with its bands marked.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/files/interferogram_files.h"
#include "host/files/series_file.h"
#include "host/files/spectrum_files.h"

namespace dorvane::host {

inline constexpr const char* kNoPlotter = "gnuplot is not installed: no plot drawn (install gnuplot-nox)";

// The PNG member of a record's file set, to be written while the record lives: gnuplot draws into
// the member's temporary file and what it wrote is checked to be a PNG; a failure to draw fails the
// set with "cannot draw PATH: REASON". None when gnuplot is not installed. A spectrum's missing
// points leave a gap in its line.
std::optional<FileSetMember> interferogramPlot(const InterferogramRecord& record, const std::string& pngPath);
std::optional<FileSetMember> spectrumPlot(const SpectrumRecord& record, const std::string& pngPath);
// Where each band's label stands (cm-1) in the picture of a spectrum over [low, high] cm-1: at
// its band, or moved aside just enough that no two labels overlap.
std::vector<double> bandLabelPlaces(const std::vector<double>& bands, double low, double high);

// A tracked band's values against time, points joined, with a fitted rise drawn through them.
struct TrendPicture {
  std::string title;
  std::string values;  // the axis' label, e.g. "CO2 area (absorbance x cm-1)"
  std::vector<double> seconds, points;
  std::optional<ExponentialRise> fit;
};
std::optional<FileSetMember> trendPlot(const TrendPicture& trend, const std::string& pngPath);

}  // namespace dorvane::host
