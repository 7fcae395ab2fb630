// dorvane demo: the virtual bench with a polystyrene film, a background and a sample acquired,
// saved and drawn, and the absorbance with its bands found and listed; with --series, a gas cell
// filling with CO2 followed file by file and the time constant of its rise fitted.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dorvane.h"
#include "host/acquisition/acquire.h"
#include "host/instrument/driver_words.h"
#include "host/analysis/tracking.h"
#include "host/instrument/session.h"
#include "host/files/file_text.h"
#include "host/files/plot.h"
#include "host/cli/commands.h"
#include "host/live/live_view.h"
#include "host/files/qualification_history.h"
#include "host/qualification/qualification_settings.h"
#include "host/qualification/qualify.h"
#include "host/live/numbered_observer.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

// The demo's absorbance: the stretch drawn, the one searched for bands (below 600 cm-1 the bench's
// detector sees too little light for a ratio above the noise), the bands that count (absorbance and
// height above the surrounding baseline), and how far a band may lie from the listed position to be
// taken for it in the listing.
constexpr WavenumberRange kDemoRange{450, 4000};
constexpr double kBandSearchLow = 600;
constexpr double kBandHeight = 0.02;
constexpr double kBandProminence = 0.02;
constexpr double kBandMatchWindow = 4;
constexpr const char* kBackgroundSample = "background (open beam)";
// The polystyrene film's published band positions (cm-1), which the virtual bench's film has: a host
// knows the film, not the bench.
std::vector<double> polystyreneBands() {
  std::int32_t count = 0;
  dorvane_spectra_polystyrene_bands(nullptr, 0, &count);
  std::vector<double> positions(static_cast<std::size_t>(std::max(count, 0)));
  dorvane_spectra_polystyrene_bands(positions.data(), static_cast<std::int32_t>(positions.size()), &count);
  return positions;
}

}  // namespace

ProcessingOptions demoProcessing() {
  ProcessingOptions processing;
  processing.range = kDemoRange;
  return processing;
}

namespace {

// The virtual bench with the film, and a settings file for it with the driver's log switched on.
struct DemoBench {
  std::filesystem::path folder;
  std::string benchLog, ini;
  std::unique_ptr<VirtualBench> bench;
};

// What the bench holds and how it is set up: the film and long scans for its bands, or the filling
// gas cell and short scans that come fast enough to follow it.
struct DemoSample {
  std::vector<std::string> benchArguments;
  std::string name;
  std::int32_t points = 16384, baud = 38400;
};

DemoBench startDemoBench(const DemoArguments& arguments, const DemoSample& sample) {
  std::error_code error;
  std::filesystem::create_directories(arguments.folder, error);
  if (error) throw HostFailure("cannot create the demo folder " + arguments.folder + ": " + error.message());
  DemoBench demo;
  demo.folder = std::filesystem::absolute(arguments.folder);
  std::vector<std::string> benchArguments{"--seed", "1"};
  benchArguments.insert(benchArguments.end(), sample.benchArguments.begin(), sample.benchArguments.end());
  benchArguments.insert(benchArguments.end(), arguments.benchOptions.begin(), arguments.benchOptions.end());
  demo.benchLog = (demo.folder / "virtual-bench.log").string();
  demo.bench = std::make_unique<VirtualBench>(benchArguments, demo.benchLog);
  const std::string& device = demo.bench->device();
  // Appended rather than concatenated: GCC 12 at -O3 takes the concatenation for an overlapping copy.
  std::string portVariable = "DORVANE_COM";
  portVariable += std::to_string(kVirtualBenchPort);
  setEnvironment(portVariable, device);

  // The settings a bench of this kind would be run with, and the driver's log switched on.
  demo.ini = (demo.folder / "dorvane.ini").string();
  std::ofstream settings(demo.ini, std::ios::trunc);
  settings << "; written by dorvane demo for the virtual bench on " << device << "\n"
           << "[Settings]\nport=" << kVirtualBenchPort << "\nbaud=" << sample.baud << "\nlog=1\nfvel=4\nrvel=4\npoints="
           << sample.points << "\n"
           << "gain=0\nlasersamp=2\nlturn=1000\nqturn=300\ndetector=1\niris=50\n";
  if (!settings.flush()) throw HostFailure("cannot write the settings file " + demo.ini);
  std::cout << "virtual bench with " << sample.name << " on " << device << "; settings in " << demo.ini << "\n";
  return demo;
}

// One file through the driver with the shuttle at `position`. The command string names position 1
// with any argument but 0, which names position 2.
void acquireWithShuttle(int position, const std::string& where, AcquireOptions acquisition, live::NumberedObserver& observer) {
  const std::string command = position == 2 ? "shuttle 0" : "shuttle 1";
  std::cout << "moving the shuttle to position " << position << " (" << where << ") with \"" << command
            << "\"; the bench settles for 10 s" << std::endl;
  const CommandOutcome moved = commandOutcome(command, spectrometer_execute(command.c_str()));
  if (moved.failed) throw HostFailure("the shuttle did not move to position " + std::to_string(position) + ": " + moved.meaning);
  if (stopRequested()) throw stoppedBy("; the port is closed");
  acquisition.observer = &observer;
  acquire(acquisition);
  if (!observer.file) throw HostFailure("the virtual bench sent no " + acquisition.prefix + " file");
}

// The picture of a saved file, or "" when none was drawn.
std::string pictureOf(const std::vector<std::string>& pictures) {
  const auto png = std::find_if(pictures.begin(), pictures.end(), [](const std::string& p) { return p.ends_with(".png"); });
  return png == pictures.end() ? std::string() : *png;
}

void report(const DemoArguments& arguments, const DemoBench& demo, const live::NumberedObserver& backgroundFile,
            const live::NumberedObserver& sampleFile, const SpectrumRecord& absorbance, const SavedFiles& spectrumFiles) {
  const AcquiredFile& sample = *sampleFile.file;
  const std::filesystem::path& folder = demo.folder;
  const std::string& ini = demo.ini;
  const std::string& benchLog = demo.benchLog;
  std::cout << "\ntwo interferograms from the virtual bench (" << benchName(sample.record.benchIdentity) << "), "
            << arguments.scans << " scans each:\n";
  for (const live::NumberedObserver* observer : {&backgroundFile, &sampleFile}) {
    const AcquiredFile* file = observer->file.get();
    const std::vector<double>& volts = file->record.volts;
    const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
    const std::optional<std::int32_t> zpd = zpdIndexOf(volts);
    std::cout << "  " << fileName(file->files.csv()) << ": " << volts.size() << " points at " << recordTimeText(file->record)
              << ", " << *low << " V to " << *high << " V, centre burst at point " << (zpd ? std::to_string(*zpd) : "?")
              << "\n    " << file->files.csv() << "\n    " << file->files.jcamp() << "\n";
    if (const std::string png = pictureOf(observer->pictures); !png.empty()) std::cout << "    " << png << "\n";
  }
  std::cout << "the polystyrene absorbance:\n    " << spectrumFiles.csv() << "\n    " << spectrumFiles.jcamp() << "\n";
  if (!spectrumFiles.png().empty()) std::cout << "    " << spectrumFiles.png() << "\n";

  std::cout << "polystyrene bands (cm-1), as the bench lists them and as found in the absorbance:\n";
  for (const double listed : polystyreneBands()) {
    const auto nearest = std::min_element(absorbance.bands.begin(), absorbance.bands.end(), [listed](double a, double b) {
      return std::fabs(a - listed) < std::fabs(b - listed);
    });
    char line[96];
    if (nearest != absorbance.bands.end() && std::fabs(*nearest - listed) <= kBandMatchWindow) {
      std::snprintf(line, sizeof line, "  %7.1f  found %8.2f  (%+.2f)", listed, *nearest, *nearest - listed);
    } else {
      std::snprintf(line, sizeof line, "  %7.1f  not found within %.0f cm-1", listed, kBandMatchWindow);
    }
    std::cout << line << "\n";
  }
  const std::string library = driverLibraryPath();
  std::cout << "settings:   " << ini << "\n"
            << "bench log:  " << benchLog << "\n";
  if (!library.empty()) {
    std::cout << "driver log: " << (std::filesystem::path(library).parent_path() / "dorvane_log.txt").string() << "\n";
  }
  std::cout << "everything is in " << folder.string() << std::endl;
}

void runFilmDemo(const DemoArguments& arguments, live::LiveRun* live) {
  DemoBench demo = startDemoBench(arguments, {{"--sample", "polystyrene"}, "a polystyrene film"});
  AcquireOptions acquisition;
  acquisition.files = 1;
  acquisition.scans = arguments.scans;
  acquisition.folder = demo.folder.string();
  acquisition.settings = loadSettings(demo.ini);
  // The demo's folder is its own: a second demo replaces the first one's files.
  acquisition.overwrite = true;
  if (live) live->expectFiles(2);
  live::NumberedObserver backgroundFile(live, 0), sampleFile(live, 1);
  acquisition.prefix = "background";
  // The sample's name heads each file's picture and title: which is the background, which the sample.
  acquisition.notes.sample = kBackgroundSample;
  acquireWithShuttle(2, "the open beam, for the background", acquisition, backgroundFile);
  const AcquiredFile& background = *backgroundFile.file;
  // The sample's absorbance made once, as it is saved: for the live view and for the bands below.
  auto maker = std::make_shared<SpectrumMaker>(demoProcessing());
  maker->setBackground(background.record, background.files.jcamp());
  if (live) live->setBackground(maker, background.files.jcamp());
  acquisition.prefix = "polystyrene";
  acquisition.notes.sample = "polystyrene film (sample)";
  acquisition.spectra = maker;
  acquireWithShuttle(1, "the film in the beam, for the sample", acquisition, sampleFile);
  demo.bench->stop();

  const AcquiredFile& sample = *sampleFile.file;
  if (!sample.spectrum) throw HostFailure(sample.spectrumError);
  SpectrumRecord absorbance = *sample.spectrum;
  absorbance.bands = findBands(absorbance, kBandSearchLow, kDemoRange.high, kBandHeight, kBandProminence);
  const SavedFiles spectrumFiles = SpectrumSaver(Existing::Replace, true)
                                       .save(absorbance, demo.folder.string(), spectrumStem(sample.files.jcamp(), absorbance.kind));
  report(arguments, demo, backgroundFile, sampleFile, absorbance, spectrumFiles);
}

// ---- the series: a gas cell filling with CO2, its band followed file by file ------------------

constexpr const char* kSeriesFolder = "series";
// The parser bounds --fill-time and --files (commands.h); the time between files depends on both.
void checkSeriesOptions(const DemoArguments& arguments) {
  if (!(arguments.every <= arguments.fillTime * arguments.files)) {
    throw HostFailure("--every " + numberText(arguments.every) + ": give the seconds between files, above 0 and short "
                      "enough for the files to follow the cell", kExitUsage);
  }
}

// The trend drawn, fitted and told: the band's area against time and the time constant found.
void reportSeries(const DemoArguments& arguments, const std::filesystem::path& folder, const TrackedBand& band,
                  const std::vector<SeriesRow>& rows) {
  TrendPicture trend;
  for (const SeriesRow& row : rows) {
    trend.seconds.push_back(row.seconds);
    trend.points.push_back(row.bands.front().area);
  }
  trend.fit = fitExponentialRise(trend.seconds, trend.points);
  trend.title = "the " + band.name + " band of a gas cell filling, " + numberText(band.low) + " to " + numberText(band.high) + " cm-1";
  trend.values = band.name + " area (absorbance x cm-1)";
  const std::string png = (folder / "cell-trend.png").string();
  std::string drawn;
  if (std::optional<FileSetMember> member = trendPlot(trend, png)) {
    const std::string failure = writeFileSet({*member}, Existing::Replace);
    drawn = failure.empty() ? png : "none (" + failure + ")";
  } else {
    drawn = std::string("none (") + kNoPlotter + ")";
  }
  std::cout << "\nthe " << band.name << " band (" << numberText(band.low) << " to " << numberText(band.high)
            << " cm-1) in " << counted(static_cast<std::int64_t>(rows.size()), "file") << " over "
            << numberText(std::round(trend.seconds.back() * 10) / 10) << " s:\n";
  if (trend.fit) {
    char line[160];
    const double tau = trend.fit->tau;
    std::snprintf(line, sizeof line, "  its area rose as a - b exp(-t/tau): fitted tau %.2f s; the bench's fill time %g s (%+.1f %%)",
                  tau, arguments.fillTime, 100 * (tau - arguments.fillTime) / arguments.fillTime);
    std::cout << line << "\n";
  } else {
    std::cout << "  no rise could be fitted to its area\n";
  }
  std::cout << "  table:   " << (folder / seriesFileName("cell")).string() << "\n  picture: " << drawn << "\n"
            << "  again from the saved files: dorvane series " << folder.string() << " --track " << band.name << "="
            << numberText(band.low) << ":" << numberText(band.high) << " --background "
            << (folder / "background-001.jdx").string() << " --out OTHER.csv" << std::endl;
}

void runSeriesDemo(const DemoArguments& arguments, live::LiveRun* live) {
  constexpr std::int32_t kSeriesPoints = 4096;
  constexpr std::int32_t kSeriesBaud = 115200;
  const TrackedBand band{"CO2", 2250, 2450};
  DemoBench demo = startDemoBench(arguments, {{"--sample", "co2-cell", "--fill-time", numberText(arguments.fillTime)},
                                            "a gas cell that fills with CO2", kSeriesPoints, kSeriesBaud});
  const std::filesystem::path folder = demo.folder / kSeriesFolder;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw HostFailure("cannot create the demo folder " + folder.string() + ": " + error.message());
  AcquireOptions acquisition;
  acquisition.files = 1;
  acquisition.scans = arguments.scans;
  acquisition.folder = folder.string();
  acquisition.settings = loadSettings(demo.ini);
  acquisition.overwrite = true;
  if (live) live->expectFiles(1 + arguments.files);
  live::NumberedObserver backgroundFile(live, 0), cellFile(live, 1);
  acquisition.prefix = "background";
  acquisition.notes.sample = kBackgroundSample;
  acquireWithShuttle(2, "the open beam, for the background; the cell fills from its first scan", acquisition, backgroundFile);
  auto maker = std::make_shared<SpectrumMaker>(demoProcessing());
  maker->setBackground(backgroundFile.file->record, backgroundFile.file->files.jcamp());
  if (live) {
    live->setBackground(maker, backgroundFile.file->files.jcamp());
    live->track({band});
  }
  acquisition.prefix = "cell";
  acquisition.notes.sample = "gas cell filling with CO2 (sample)";
  acquisition.files = arguments.files;
  acquisition.everySeconds = arguments.every;
  acquisition.spectra = maker;
  acquisition.saveSpectra = true;
  acquisition.plot = false;  // the trend is the picture
  acquisition.tracks = {band};
  acquireWithShuttle(1, "the cell in the beam, a file every " + numberText(arguments.every) + " s", acquisition, cellFile);
  demo.bench->stop();
  reportSeries(arguments, folder, band, cellFile.rows);
}

// ---- the qualification: the bench qualified healthy, then with its mirror tilted out of line ------

constexpr const char* kQualificationFolder = "qualification";
// The fault the aged bench shows: enough tilt that a lab would call the bench out of alignment.
const std::vector<std::string> kAgedBench{"--misalignment", "40"};

// The newest run in `folder`: runs are named after the moment they began.
std::string newestRun(const std::filesystem::path& folder) {
  std::string newest;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && name.starts_with("qualification-") && name > fileName(newest)) newest = entry.path().string();
  }
  return newest;
}

// One qualification on a virtual bench of its own; its exit status.
int qualifyOn(const DemoArguments& arguments, const DemoSample& sample, qualification::QualifyOptions& options) {
  DemoBench demo = startDemoBench(arguments, sample);
  options.ini = demo.ini;
  const int status = qualification::qualify(options);
  demo.bench->stop();
  return status;
}

int runQualifyDemo(const DemoArguments& arguments, live::LiveRun* live) {
  const std::filesystem::path folder = std::filesystem::absolute(arguments.folder) / kQualificationFolder;
  constexpr std::int32_t kQualifyBaud = 115200;
  qualification::QualifyOptions options;
  options.folder = folder.string();
  std::optional<LiveQualification> healthyView, agedView;
  if (live) options.observer = &healthyView.emplace(*live, 0);
  // The healthy bench is its own reference: an earlier demo's runs in the folder do not count.
  options.newReference = true;
  std::cout << "qualifying a healthy virtual bench, then the same bench with its mirror tilted 40 µrad" << std::endl;
  const int healthy = qualifyOn(arguments, {{"--sample", "polystyrene"}, "a polystyrene film on a healthy bench", 16384, kQualifyBaud}, options);
  const std::string healthyRun = newestRun(folder);

  std::vector<std::string> agedArguments{"--sample", "polystyrene"};
  agedArguments.insert(agedArguments.end(), kAgedBench.begin(), kAgedBench.end());
  options.newReference = false;
  options.reference = healthyRun;
  if (live) options.observer = &agedView.emplace(*live, 2 + qualification::defaultSettings().limits.repeat_samples);
  const int aged = qualifyOn(arguments, {agedArguments, "a polystyrene film on the bench with its mirror tilted 40 µrad", 16384, kQualifyBaud}, options);
  const std::string agedRun = newestRun(folder);

  std::cout << "\nthe healthy bench:  " << (healthy == qualification::kQualified ? "PASSED" : "did not pass") << "  "
            << (std::filesystem::path(healthyRun) / "qualification.html").string() << "\n"
            << "the tilted mirror:  " << (aged == qualification::kNotQualified ? "FAILED" : "did not fail") << "  "
            << (std::filesystem::path(agedRun) / "qualification.html").string() << "\n"
            << "the bench's history: " << (folder / kQualificationHistoryName).string() << "\n"
            << "again on any bench: dorvane qualify --folder FOLDER (docs/qualification.md)" << std::endl;
  return healthy == qualification::kQualified && aged == qualification::kNotQualified ? 0 : kExitFailure;
}

}  // namespace

int runDemo(DemoArguments& arguments) {
  if (arguments.series && arguments.qualify) throw HostFailure("--series and --qualify are two demos: give one", kExitUsage);
  if (arguments.series) checkSeriesOptions(arguments);
  catchStopRequests();
  // The demo's run on view: its absorbance over the range it draws, or the qualification's film.
  const std::filesystem::path folder(arguments.folder);
  const std::string shown = arguments.series    ? (folder / kSeriesFolder).string()
                            : arguments.qualify ? (folder / kQualificationFolder).string()
                                                : arguments.folder;
  live::LiveSession live(arguments.live, shown, arguments.qualify ? qualificationView() : demoProcessing());
  int verdicts = 0;
  const int status = live.perform([&] {
    if (arguments.qualify) {
      verdicts = runQualifyDemo(arguments, live.run());
    } else if (arguments.series) {
      runSeriesDemo(arguments, live.run());
    } else {
      runFilmDemo(arguments, live.run());
    }
  });
  if (status == 0 && verdicts != 0) return verdicts;
  return live.run() ? status : afterBenchCalls(status);
}


}  // namespace dorvane::host::cli
