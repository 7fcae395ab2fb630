// dorvane plot: each file read back by the reader of its kind and its picture drawn as a set of one;
// a series table's trend drawn as one picture a band.
#include "host/cli/commands.h"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <vector>

#include "host/files/interferogram_reader.h"
#include "host/files/plot.h"
#include "host/files/series_reader.h"
#include "host/files/processed_file_reader.h"
#include "host/files/whole_file.h"
#include "host/files/file_text.h"
#include "host/os/file_system.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

enum class Outcome { Drawn, Kept, Failed };

Outcome failed(const std::string& path, const std::string& failure) {
  std::cerr << "dorvane: " << shownPath(path) << ": " << failure << std::endl;
  return Outcome::Failed;
}

// Writes the picture of `path` that `member` draws (none: gnuplot is not installed, which ends the
// arguments, since no other file could be drawn either).
Outcome writePicture(const std::optional<FileSetMember>& member, const std::string& path, Existing existing) {
  if (!member) throw HostFailure(kNoPlotter);
  const std::string failure = writeFileSet({*member}, existing);
  if (failure.empty()) {
    std::cout << "drew " << shownPath(member->path) << std::endl;
    return Outcome::Drawn;
  }
  // The set's refusal of a taken name: a picture drawn before, which is kept.
  if (failure == cannotWrite(member->path, kFileExists)) return Outcome::Kept;
  return failed(path, failure);
}

// What a table's band name becomes in its picture's name: letters, digits, '.', '-' and '_' kept.
std::string fileNamePart(const std::string& name) {
  std::string part;
  for (const char c : name) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
    part += kept ? c : '_';
  }
  return part;
}

// <STEM>-<BAND>.png a band: its area against the seconds since the first file, as the demo draws its
// cell's. No rise is fitted: a table does not say that its band rises.
std::vector<Outcome> plotSeries(const std::string& path, const std::string& png, Existing existing) {
  const SeriesReading series = readSeriesFile(path);
  if (!series.failure.empty()) return {failed(path, series.failure)};
  const SeriesTable& table = series.table;
  const std::filesystem::path stem = std::filesystem::path(png).replace_extension();
  std::vector<Outcome> outcomes;
  for (std::size_t band = 0; band < table.bands.size(); ++band) {
    const TrackedBand& tracked = table.bands[band];
    TrendPicture trend;
    trend.seconds = table.seconds;
    for (const BandMeasure& measure : table.measures[band]) trend.points.push_back(measure.area);
    trend.title = "the " + tracked.name + " band of " + fileName(path) + ", " + numberText(tracked.low) + " to " +
                  numberText(tracked.high) + " cm-1";
    trend.values = tracked.name + " area (" + table.values + " x cm-1)";
    const std::string picture = stem.string() + "-" + fileNamePart(tracked.name) + ".png";
    outcomes.push_back(writePicture(trendPlot(trend, picture), path, existing));
  }
  return outcomes;
}

Outcome plotFile(const std::string& path, const std::string& png, Existing existing) {
  if (isSavedSpectrum(path)) {
    const SpectrumReading spectrum = readSpectrumFile(path);
    if (!spectrum.failure.empty()) return failed(path, spectrum.failure);
    return writePicture(spectrumPlot(spectrum.record, png), path, existing);
  }
  // Anything else is the interferogram reader's to refuse, with what is wrong with it.
  const InterferogramReading interferogram = readInterferogramFile(path);
  if (!interferogram.failure.empty()) return failed(path, interferogram.failure);
  return writePicture(interferogramPlot(interferogram.record, png), path, existing);
}

}  // namespace

int runPlot(PlotArguments& arguments) {
  const Existing existing = arguments.overwrite ? Existing::Replace : Existing::Keep;
  std::set<std::string> pictures;  // drawn or kept: the other files of their stem are passed over
  std::int64_t drawn = 0, kept = 0, failures = 0;
  for (const std::string& path : arguments.files) {
    // Each picture is drawn whole before Ctrl-C is heeded.
    if (stopRequested()) throw stoppedBy(" before " + shownPath(path));
    const std::string png = std::filesystem::path(path).replace_extension(".png").string();
    if (pictures.contains(png)) continue;
    const std::vector<Outcome> outcomes =
        isSavedSeries(path) ? plotSeries(path, png, existing) : std::vector<Outcome>{plotFile(path, png, existing)};
    for (const Outcome outcome : outcomes) {
      if (outcome == Outcome::Failed) {
        ++failures;
      } else {
        ++(outcome == Outcome::Drawn ? drawn : kept);
        pictures.insert(png);
      }
    }
  }
  std::cout << counted(drawn, "picture") << " drawn";
  if (kept > 0) {
    std::cout << ", " << kept << " kept ("
              << (kept == 1 ? "it exists; --overwrite draws it again)" : "they exist; --overwrite draws them again)");
  }
  std::cout << std::endl;
  return failures == 0 ? 0 : kExitFailure;
}

}  // namespace dorvane::host::cli
