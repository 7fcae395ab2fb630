// dorvane qualify's course: the settings and the reference checked before the bench is touched, a
// folder of its own for the run, two backgrounds and the samples acquired (or copied from files),
// the figures made from the files as saved, and the report written (report.cpp).
#include "host/qualification/qualify.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "host/acquisition/acquisition_loop.h"
#include "host/acquisition/timing.h"
#include "host/analysis/processing.h"
#include "host/files/file_text.h"
#include "host/files/interferogram_files.h"
#include "host/files/qualification_history.h"
#include "host/files/whole_file.h"
#include "host/instrument/session.h"
#include "host/instrument/shuttle.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/qualification/figures.h"
#include "host/qualification/report.h"
#include "host/text/text.h"

namespace dorvane::host::qualification {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kBackgroundPrefix = "background";
constexpr const char* kSamplePrefix = "sample";
constexpr double kSameResolution = 0.01;  // relative: the bench's 64 added points move it by 0.1 %

QualificationSettings effectiveSettings(const QualifyOptions& options) {
  QualificationSettings settings = options.settings.empty() ? defaultSettings() : readSettings(options.settings);
  if (options.points) settings.points = *options.points;
  if (options.scans) settings.scans = *options.scans;
  if (options.samples) settings.limits.repeat_samples = *options.samples;
  return settings;
}

// A new folder for the run beside the earlier ones, never one of theirs: qualification-DATE-TIME,
// with -2, -3 ... when two runs start within a second.
std::string makeRunFolder(const std::string& parent, const std::string& kind) {
  std::error_code error;
  fs::create_directories(parent, error);
  if (error) throw HostFailure("cannot create the folder " + shownPath(parent) + ": " + error.message(), kExitUsage);
  const std::string stem = kind + "-" + utcTimeText("%Y%m%d-%H%M%S", wallClockMs());
  for (int attempt = 1; attempt < 1000; ++attempt) {
    const fs::path folder = fs::path(parent) / (attempt == 1 ? stem : stem + "-" + std::to_string(attempt));
    if (fs::create_directory(folder, error)) return folder.string();
    if (error) throw HostFailure("cannot create the run's folder " + shownPath(folder.string()) + ": " + error.message(), kExitUsage);
  }
  throw HostFailure("cannot find a free name for the run's folder in " + shownPath(parent), kExitUsage);
}

// A run that ends before its first file leaves no empty folder among the user's runs; one with files
// keeps them (fs::remove takes only an empty folder).
void removeIfEmpty(const std::string& folder) {
  std::error_code kept;
  fs::remove(folder, kept);
}

// The reference's energy figures, from its report; refused when they were measured otherwise.
Reference readReference(const std::string& folder, double resolution) {
  const std::string path = (fs::path(folder) / kReportName).string();
  const Json report = parseReport(qualificationReportText(path), path);
  Reference reference;
  reference.folder = fileName(fs::path(folder).lexically_normal().string());
  try {
    reference.made = report.at("made").get<std::string>();
    reference.resolution = report.at("acquisition").at("nominal_resolution").get<double>();
    for (const Json& level : report.at("tests").at("energy").at("levels")) {
      reference.levels.push_back(level.at("level").is_number() ? level["level"].get<double>() : 0.0);
    }
    const Json& burst = report["tests"]["energy"].at("burst").at("amplitude");
    reference.burst = burst.is_number() ? burst.get<double>() : 0.0;
  } catch (const nlohmann::json::exception&) {
    throw HostFailure(shownPath(path) + " holds no energy figures to compare with: choose another reference with --reference", kExitUsage);
  }
  // The single beam's values are sums over the transform: they compare only at one resolution.
  if (std::fabs(reference.resolution - resolution) > kSameResolution * resolution) {
    throw HostFailure("the reference " + shownPath(folder) + " was measured at a nominal resolution of " + numberText(rounded(reference.resolution, 3)) +
                          " cm-1 and this run's is " + numberText(rounded(resolution, 3)) + " cm-1: energy figures compare only at "
                          "one resolution; choose a reference of the same points with --reference, or make this run a new "
                          "reference with --new-reference", kExitUsage);
  }
  return reference;
}

// The reference this run compares its energy with: the one named, else the bench's first run in the
// history, else none (the run is its own).
std::optional<Reference> chooseReference(const QualifyOptions& options, const std::optional<QualificationHistory>& history,
                                         double resolution) {
  if (options.newReference) return std::nullopt;
  if (!options.reference.empty()) return readReference(options.reference, resolution);
  if (!history || history->rows.empty()) return std::nullopt;
  return readReference((fs::path(options.folder) / history->rows.front().folder).string(), resolution);
}

// A bench without a shuttle: the user moves the film, told at the terminal.
void askToMove(const std::string& what) {
  std::cout << what << ", then press Enter (Ctrl-C stops)" << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer) || stopRequested()) throw stoppedBy("; nothing was measured after it");
}

void placeFilm(bool shuttle, bool inBeam) {
  if (shuttle) {
    moveShuttle(inBeam ? 1 : 2, inBeam ? "the film in the beam, for the samples" : "the open beam, for the backgrounds");
    if (stopRequested()) throw stoppedBy("; the port is closed");
  } else {
    askToMove(inBeam ? "put the polystyrene film in the beam" : "take the polystyrene film out of the beam");
  }
}

AcquireOptions acquisitionFor(const std::string& folder, const QualificationSettings& settings, const CheckedSettings& checked,
                              std::int32_t points) {
  AcquireOptions acquisition;
  acquisition.points = points;
  acquisition.scans = settings.scans;
  acquisition.folder = folder;
  acquisition.plot = false;  // the report draws what matters
  acquisition.settings = checked;
  return acquisition;
}

// Whether the bench carries a shuttle (the bench open); one that has none needs someone at a terminal
// to move the film, refused before the run's folder is made when nobody is.
bool shuttleOrSomeoneToMoveTheFilm() {
  const std::optional<bool> shuttle = benchHasShuttle();
  if (!shuttle) throw HostFailure("the bench could not be asked whether it has a shuttle: is it on and connected?", kCouldNotQualify);
  if (!*shuttle && !stdinIsTerminal()) {
    throw HostFailure("the bench has no shuttle and nobody is at a terminal to move the film: run dorvane qualify at a "
                      "terminal, or give the interferograms with --backgrounds and --samples-from", kExitUsage);
  }
  return *shuttle;
}

void acquireOnBench(const QualifyOptions& options, const QualificationSettings& settings, const CheckedSettings& checked,
                    std::int32_t points, bool shuttle, const std::string& folder) {
  QualificationObserver* observer = options.observer;
  const std::int32_t samples = settings.limits.repeat_samples;
  if (observer) observer->files(2 + samples);

  AcquireOptions acquisition = acquisitionFor(folder, settings, checked, points);
  if (observer) observer->step("backgrounds: 2 files with the film out of the beam");
  placeFilm(shuttle, false);
  acquisition.files = 2;
  acquisition.prefix = kBackgroundPrefix;
  acquisition.notes.sample = "background (open beam), qualification";
  acquisition.observer = observer ? observer->acquisition(0) : nullptr;
  acquire(acquisition);

  if (observer) {
    const std::string first = (fs::path(folder) / (numbered(kBackgroundPrefix, 1) + ".jdx")).string();
    observer->background(readForSpectrum(first, "the background ", qualificationProcessing()), first);
    observer->step("samples: " + counted(samples, "file") + " with the film in the beam");
  }
  placeFilm(shuttle, true);
  acquisition.files = samples;
  acquisition.prefix = kSamplePrefix;
  acquisition.notes.sample = "polystyrene film, qualification";
  acquisition.observer = observer ? observer->acquisition(2) : nullptr;
  acquire(acquisition);
}

// Copies the user's file into the run's folder byte for byte, as ROLE-00K with its own extension.
std::string copyInto(const std::string& folder, const std::string& source, const std::string& prefix, std::int32_t number) {
  const std::string target = (fs::path(folder) / (numbered(prefix, number) + fs::path(source).extension().string())).string();
  const FileSetMember member{target, [&source](TemporaryFile& file) -> std::string {
                               std::ifstream in(source, std::ios::binary);
                               if (!in) return "cannot read " + shownPath(source);
                               std::string chunk(1 << 16, '\0');
                               while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
                                 if (std::string failure = file.write(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
                                     !failure.empty()) {
                                   return failure;
                                 }
                               }
                               return in.bad() ? "cannot read " + shownPath(source) : std::string();
                             }};
  if (const std::string failure = writeFileSet({member}, Existing::Keep); !failure.empty()) throw HostFailure(failure, kCouldNotQualify);
  return target;
}

// The files given instead of the bench, each read: refused before the run's folder is made.
void checkFiles(const QualifyOptions& options) {
  if (options.backgroundFiles.size() != 2) {
    throw HostFailure("--backgrounds takes two interferograms, taken one after the other with the film out of the beam", kExitUsage);
  }
  if (options.sampleFiles.size() < 2) throw HostFailure("--samples-from takes at least two interferograms of the film", kExitUsage);
  for (const std::string& path : options.backgroundFiles) readForSpectrum(path, "the background ", qualificationProcessing());
  for (const std::string& path : options.sampleFiles) readForSpectrum(path, "the sample ", qualificationProcessing());
}

void copyFiles(const QualifyOptions& options, const std::string& folder) {
  for (std::size_t i = 0; i < options.backgroundFiles.size(); ++i) {
    copyInto(folder, options.backgroundFiles[i], kBackgroundPrefix, static_cast<std::int32_t>(i + 1));
  }
  for (std::size_t i = 0; i < options.sampleFiles.size(); ++i) {
    copyInto(folder, options.sampleFiles[i], kSamplePrefix, static_cast<std::int32_t>(i + 1));
  }
}

// The bench's identity before anything is measured, to hold the history to one bench.
std::int32_t benchIdentityOfFiles(const QualifyOptions& options) {
  return readForSpectrum(options.backgroundFiles.front(), "the background ", qualificationProcessing()).benchIdentity;
}

void checkHistoryBench(const std::optional<QualificationHistory>& history, std::int32_t identity, const std::string& path) {
  if (history && history->benchIdentity != identity) {
    throw HostFailure(shownPath(path) + " is the history of bench " + history->benchName + " and this is bench " +
                          benchName(identity) + ": qualify each bench in a folder of its own (--folder)", kExitUsage);
  }
}

int qualifyRun(const QualifyOptions& options) {
  QualificationSettings settings = effectiveSettings(options);
  const std::string historyPath = (fs::path(options.folder) / kQualificationHistoryName).string();
  const std::optional<QualificationHistory> history = readQualificationHistory(historyPath);
  const bool fromFiles = !options.backgroundFiles.empty() || !options.sampleFiles.empty();

  std::optional<CheckedSettings> checked;
  std::int32_t points = 0;
  double resolution = 0;
  bool shuttle = false;
  if (fromFiles) {
    checkFiles(options);
    checkHistoryBench(history, benchIdentityOfFiles(options), historyPath);
    const InterferogramRecord first = readForSpectrum(options.sampleFiles.empty() ? options.backgroundFiles.front() : options.sampleFiles.front(),
                                                      "the sample ", qualificationProcessing());
    points = static_cast<std::int32_t>(first.volts.size());
    resolution = nominalResolution(points, first.undersampling.value_or(2));
    settings.limits.repeat_samples = static_cast<std::int32_t>(options.sampleFiles.size());
  } else {
    checked = loadSettings(options.ini);
    points = settings.points.value_or(kLargestPointsRequest);
    const double nominal = nominalResolution(points, undersamplingOf(checked->lasersamp));
    resolution = nominal;
    if (nominal > settings.limits.resolution_coarsest) {
      throw HostFailure("at " + std::to_string(points) + " points the spectra's nominal resolution is " + numberText(rounded(nominal, 2)) +
                            " cm-1, coarser than the " + numberText(settings.limits.resolution_coarsest) + " cm-1 that the "
                            "resolution check needs to separate 1583 from 1589 cm-1: leave out --points for the bench's best",
                        kExitUsage);
    }
    const OpenBench bench(*checked);
    checkHistoryBench(history, bench.identity(), historyPath);
    shuttle = shuttleOrSomeoneToMoveTheFilm();
  }
  const std::optional<Reference> reference = chooseReference(options, history, resolution);

  const std::string folder = makeRunFolder(options.folder, "qualification");
  std::cout << "qualifying into " << shownPath(folder) << std::endl;
  try {
    if (fromFiles) {
      copyFiles(options, folder);
    } else {
      acquireOnBench(options, settings, *checked, points, shuttle, folder);
    }
  } catch (const HostFailure&) {
    removeIfEmpty(folder);
    throw;
  }
  if (options.observer) options.observer->step("computing the tests");
  const ReportRun run{folder, settings, reference, history, historyPath, ""};
  return writeReport(run, options.observer, true);
}

// Remakes the report of an earlier run from its raw files into a new folder inside it.
int remake(const QualifyOptions& options) {
  const std::string earlier = (fs::path(options.from) / kReportName).string();
  const Json report = parseReport(qualificationReportText(earlier), earlier);
  QualificationSettings settings = settingsFromReport(report, shownPath(earlier));
  std::optional<Reference> reference;
  try {
    const Json& energy = report.at("tests").at("energy");
    if (!energy.at("reference").at("self").get<bool>()) {
      Reference kept;
      kept.folder = energy["reference"].at("folder").get<std::string>();
      kept.made = energy["reference"].at("made").get<std::string>();
      kept.resolution = report.at("acquisition").at("nominal_resolution").get<double>();
      for (const Json& level : energy.at("levels")) kept.levels.push_back(level.at("reference").get<double>());
      kept.burst = energy.at("burst").at("reference").get<double>();
      reference = kept;
    }
  } catch (const nlohmann::json::exception&) {
    throw HostFailure(shownPath(earlier) + ": its energy reference cannot be read", kExitUsage);
  }
  const fs::path parent = fs::path(options.from).lexically_normal().parent_path();
  const std::string historyPath = (parent / kQualificationHistoryName).string();
  std::optional<QualificationHistory> history = readQualificationHistory(historyPath);
  // The trend as it stood when the run was made: the rows before it.
  if (history) {
    const std::string name = fileName(fs::path(options.from).lexically_normal().string());
    const auto own = std::find_if(history->rows.begin(), history->rows.end(), [&](const QualificationHistoryRow& row) { return row.folder == name; });
    history->rows.erase(own, history->rows.end());
  }
  const std::string folder = makeRunFolder(options.from, "remade");
  std::cout << "remaking the report of " << shownPath(options.from) << " from its raw files into " << shownPath(folder) << std::endl;
  const ReportRun run{folder, settings, reference, history, historyPath, options.from};
  try {
    return writeReport(run, options.observer, false);
  } catch (const HostFailure&) {
    removeIfEmpty(folder);
    throw;
  }
}

}  // namespace

int qualify(const QualifyOptions& options) {
  try {
    return options.from.empty() ? qualifyRun(options) : remake(options);
  } catch (const HostFailure& failure) {
    // A failure of the bench or the disk is no verdict on the bench: 3, not a failed test's 1.
    if (failure.exitStatus() == kExitFailure) throw HostFailure(failure.what(), kCouldNotQualify);
    throw;
  }
}

}  // namespace dorvane::host::qualification
