// Drawing to PNG with gnuplot (its pngcairo terminal, fed through a pipe): an interferogram, volts
// against point index with the centre burst magnified below, and a spectrum against wavenumber,
// decreasing from left to right as spectroscopists read it, with its bands marked. And the file
// sets the PNG completes: a record's CSV, JCAMP-DX and PNG, written whole or not at all.
#pragma once

#include <optional>
#include <string>

#include "host/files/interferogram_files.h"
#include "host/files/spectrum_files.h"

namespace dorvane::host {

inline constexpr const char* kNoPlotter = "gnuplot is not installed: no plot drawn (install gnuplot-nox)";

// The PNG member of a record's file set, to be written while the record lives: gnuplot draws into
// the member's temporary file and what it wrote is checked to be a PNG; a failure to draw fails the
// set with "cannot draw PATH: REASON". None when gnuplot is not installed. A spectrum's missing
// points leave a gap in its line.
std::optional<FileSetMember> interferogramPlot(const InterferogramRecord& record, const std::string& pngPath);
std::optional<FileSetMember> spectrumPlot(const SpectrumRecord& record, const std::string& pngPath);

// Where a record's file set went.
struct SavedFiles {
  std::string csv, jcamp, png;  // png empty when no plot was drawn
};

struct SavedSet {
  std::string failure;  // "" or the one line of the failure, after which nothing of the set is written
  SavedFiles files;
  bool plotterMissing = false;  // a plot was asked for, but gnuplot is not installed
};

// Writes a record's file set: <base>.csv, <base>.jdx and, with `plot` and gnuplot, <base>.png, all
// or none (writeFileSet). <base>.png is a name of the set even when no plot is drawn: with
// Existing::Keep a file there refuses the set, with Existing::Replace an old one is removed.
SavedSet saveInterferogramSet(const InterferogramRecord& record, const std::string& base, bool plot, Existing existing);
SavedSet saveSpectrumSet(const SpectrumRecord& record, const std::string& base, bool plot, Existing existing);

}  // namespace dorvane::host
