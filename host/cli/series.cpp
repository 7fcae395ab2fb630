// dorvane series: the table of tracked bands built from a folder of saved interferograms, as an
// acquisition with --track builds it file by file, without a bench.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "host/analysis/tracking.h"
#include "host/cli/commands.h"
#include "host/files/formats.h"
#include "host/files/interferogram_reader.h"
#include "host/files/processed_file_reader.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

namespace fs = std::filesystem;

// Every text file the host writes opens so: "# dorvane interferogram: ...", "# dorvane series: ...".
constexpr std::string_view kHostCsvStart = "# dorvane ";

bool opensAsHostCsv(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string start(kHostCsvStart.size(), '\0');
  return file.read(start.data(), static_cast<std::streamsize>(start.size())) && start == kHostCsvStart;
}

std::string refusal(const fs::path& path, const std::string& why) {
  return shownPath(path.string()) + ": " + why +
         "; a series is read from a folder of dorvane's files: move the file out, or give another folder";
}

// The folder's interferograms in the order of their names, the background (when it lies there)
// left out. The host's other files (spectra, tables, pictures) are passed over; a CSV or JCAMP-DX
// file that is not the host's, or cannot be read, refuses the folder.
std::vector<fs::path> seriesFiles(const std::string& folder, const std::string& background) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    throw HostFailure(shownPath(folder) + " is not a folder: give the folder the files were saved in", kExitUsage);
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const fs::path& path = entry.path();
    if (path.extension() == ".csv" && !opensAsHostCsv(path)) throw HostFailure(refusal(path, "not a file of dorvane's"));
    if (path.extension() != kRecordExtension) continue;
    std::error_code notTheSame;  // a failure to compare is no failure to read the folder
    if (!background.empty() && fs::equivalent(path, background, notTheSame)) continue;
    if (isSavedSpectrum(path.string())) continue;
    files.push_back(path);
  }
  if (error) throw HostFailure("cannot read the folder " + shownPath(folder) + ": " + error.message());
  std::sort(files.begin(), files.end());
  if (files.empty()) throw HostFailure(shownPath(folder) + " holds no interferogram of dorvane's (.jdx) to make a series of");
  return files;
}

// When the file began: its start time, or for a file saved without one the time the bench finished it.
double fileTimeMs(const InterferogramRecord& record, const fs::path& path) {
  if (record.startedMs > 0) return record.startedMs;
  if (record.timestampMs > 0) return record.timestampMs;
  throw HostFailure(refusal(path, "it has no time (a stored block?), and a series needs each file's"));
}

// "cell" of "cell-001": the acquisition's prefix.
std::string prefixOf(const fs::path& file) {
  std::string stem = file.stem().string();
  const std::size_t dash = stem.rfind('-');
  if (dash != std::string::npos && dash + 1 < stem.size() &&
      std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(dash) + 1, stem.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    stem.resize(dash);
  }
  return stem;
}

}  // namespace

int runSeries(SeriesArguments& arguments) {
  const std::vector<TrackedBand> bands = parseTracks(arguments.tracks);
  const ProcessingOptions processing = arguments.processing.resolved();
  SpectrumMaker maker(processing);
  if (!arguments.background.empty()) {
    maker.setBackground(readForSpectrum(arguments.background, "the background ", processing), shownPath(arguments.background));
  }
  const std::vector<fs::path> files = seriesFiles(arguments.folder, arguments.background);
  // Every row is made before anything is written: a file that fails leaves no table behind.
  std::string table = seriesHeader(bands, spectrumKindName(maker.kind()));
  double originMs = 0;
  for (const fs::path& path : files) {
    if (stopRequested()) throw stoppedBy(" before " + shownPath(path.string()) + "; nothing is written");
    const InterferogramReading reading = readInterferogramFile(path.string());
    if (!reading.failure.empty()) throw HostFailure(refusal(path, reading.failure));
    const double timeMs = fileTimeMs(reading.record, path);
    if (originMs == 0) originMs = timeMs;
    const SeriesRow row{(timeMs - originMs) / 1000, path.stem().string(),
                        measureBands(maker.make(reading.record, shownPath(path.string())), bands)};
    table += seriesRowText(row);
  }
  const std::string out =
      arguments.out.empty() ? (fs::path(arguments.folder) / seriesFileName(prefixOf(files.front()))).string() : arguments.out;
  const FileSetMember member{out, [&table](TemporaryFile& file) { return file.write(table); }};
  if (const std::string failure = writeFileSet({member}, arguments.overwrite ? Existing::Replace : Existing::Keep);
      !failure.empty()) {
    throw HostFailure(failure);
  }
  std::cout << counted(static_cast<std::int64_t>(files.size()), "file") << " in the series of the tracked bands: "
            << shownPath(out) << std::endl;
  return 0;
}

}  // namespace dorvane::host::cli
