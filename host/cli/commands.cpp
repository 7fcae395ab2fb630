// info, list, fetch, exec, sim and demo: each a short story over the driver's exports.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <vector>

#include "dorvane.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/files/interferogram_reader.h"
#include "host/live/live_run.h"
#include "host/acquisition/spectrum.h"
#include "host/text/text.h"
#include "host/acquisition/driver_words.h"

namespace dorvane::host {
namespace {

// The live view's numbers for the files of one of the demo's acquisitions, each of which counts
// its own from 1: its files are the run's from `offset` + 1 on.
class LiveNumbering final : public AcquireObserver {
 public:
  LiveNumbering(live::LiveRun* run, std::int32_t offset) : run_(run), offset_(offset) {}
  std::int32_t number(std::int32_t own) const { return offset_ + own; }

  void started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
               std::optional<double> fileSeconds) override {
    run_->started(benchIdentity, files, scans, fileSeconds);
  }
  void scanning(std::int32_t own) override { run_->scanning(number(own)); }
  void transferring(std::int32_t own) override { run_->transferring(number(own)); }
  void notice(const std::string& line) override { run_->notice(line); }

 private:
  live::LiveRun* run_;
  std::int32_t offset_;
};

// The text exports' documented buffer sizes, and a terminator of our own past them.
constexpr std::size_t kBlockListSize = 6121;

// The demo's absorbance: the stretch drawn, the one searched for bands (below 600 cm-1 the bench's
// detector sees too little light for a ratio above the noise), the bands that count (absorbance and
// height above the surrounding baseline), and how far a band may lie from the listed position to be
// taken for it in the listing.
constexpr double kDemoLowWavenumber = 450;
constexpr double kDemoHighWavenumber = 4000;
constexpr double kBandSearchLow = 600;
constexpr double kBandHeight = 0.02;
constexpr double kBandProminence = 0.02;
constexpr double kBandMatchWindow = 4;
// The polystyrene film's published band positions (cm-1), which the virtual bench's film has: a host
// knows the film, not the bench.
std::vector<double> polystyreneBands() {
  std::int32_t count = 0;
  dorvane_spectra_polystyrene_bands(nullptr, 0, &count);
  std::vector<double> positions(static_cast<std::size_t>(std::max(count, 0)));
  dorvane_spectra_polystyrene_bands(positions.data(), static_cast<std::int32_t>(positions.size()), &count);
  return positions;
}

std::vector<std::string> storedBlockDates() {
  std::vector<char> text(kBlockListSize + 1, '\0');
  const std::int32_t result = getRemoteDataList(text.data());
  if (result != 0) throw HostFailure(callFailed("getRemoteDataList", result, result == 1 ? "the bench's status could not be read" : nullptr));
  std::vector<std::string> dates;
  std::istringstream lines(text.data());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) dates.push_back(line);
  }
  return dates;
}

// On a terminal, a line redrawn twice a second while the main thread waits in a driver call that
// says nothing until it returns.
class WaitingLine {
 public:
  explicit WaitingLine(std::function<std::string()> text) : text_(std::move(text)) {
    if (!stdoutIsTerminal()) return;
    started_ = worker_.start(
        [this] {
          while (!done_.wait(kRedrawMs)) std::cout << "\r\033[K" << text_() << std::flush;
          std::cout << "\r\033[K" << std::flush;
          return 0u;
        },
        platform::ThreadPriority::normal);
  }
  ~WaitingLine() {
    done_.set();
    if (started_) worker_.join();
  }
  WaitingLine(const WaitingLine&) = delete;
  WaitingLine& operator=(const WaitingLine&) = delete;

 private:
  static constexpr std::uint32_t kRedrawMs = 500;
  std::function<std::string()> text_;
  platform::Event done_;
  platform::Thread worker_;
  bool started_ = false;
};

}  // namespace

void showInfo(const std::string& iniPath) {
  OpenBench bench(loadSettings(iniPath));
  std::cout << "bench: " << benchName(bench.identity()) << " (whoAreYou " << bench.identity() << ")\n";
  std::cout << bench.setupText();
}

void listStoredBlocks(const std::string& iniPath) {
  OpenBench bench(loadSettings(iniPath));
  const std::vector<std::string> dates = storedBlockDates();
  if (dates.empty()) std::cout << "the bench holds no stored blocks\n";
  for (std::size_t i = 0; i < dates.size(); ++i) std::cout << i << "  " << dates[i] << "\n";
}

void fetchStoredBlock(const FetchOptions& options) {
  const CheckedSettings settings = loadSettings(options.iniPath);
  OutputFolder output(options.folder, options.plot, options.overwrite ? Existing::Replace : Existing::Keep);
  OpenBench bench(settings);
  const std::vector<std::string> dates = storedBlockDates();
  const std::int32_t index = options.index;
  if (index < 0 || static_cast<std::size_t>(index) >= dates.size()) {
    throw HostFailure("no stored block " + std::to_string(index) + ": the bench holds " + std::to_string(dates.size()) +
                      " (dorvane list shows them)");
  }
  const std::string setupText = bench.setupText();
  // The block's own size is known only once it is here: the bench's current points, in the widest
  // points, bound the wait.
  const std::int64_t setupPoints = setupValue(setupText, "dataPoints").value_or(0);
  const double mostSeconds = transferSeconds(setupPoints, 4, settings.baud);
  // Set before the line that announces the transfer: a Ctrl-C may follow the line at once.
  const auto started = std::chrono::steady_clock::now();
  setStopNotice([started, mostSeconds](int) -> std::string {
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string line = "stopping after the current transfer: the driver cannot cut a block's transfer short";
    if (mostSeconds > spent) line += "; up to about " + std::to_string(std::lround(std::ceil(mostSeconds - spent))) + " s more";
    return line;
  });
  std::cout << "fetching stored block " << index << " (" << printableAscii(dates[static_cast<std::size_t>(index)]) << ") at "
            << settings.baud << " baud";
  if (mostSeconds > 0) std::cout << ": up to about " << std::lround(std::ceil(mostSeconds)) << " s";
  std::cout << std::endl;
  std::vector<double> values(DORVANE_MOST_BLOCK_POINTS);
  std::int32_t count = 0;
  std::int32_t result = 0;
  {
    const WaitingLine waiting([started, mostSeconds] {
      const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      return "transferring: " + std::to_string(std::lround(spent)) + " s" +
             (mostSeconds > 0 ? " of up to about " + std::to_string(std::lround(std::ceil(mostSeconds))) + " s" : "");
    });
    result = getRemoteData(index, values.data(), &count);
  }
  setStopNotice({});
  if (result != 0) throw HostFailure(callFailed("getRemoteData", result, result == 1 ? "the block could not be retrieved" : nullptr));
  if (count <= 0 || static_cast<std::size_t>(count) > values.size()) {
    throw HostFailure("getRemoteData reported " + std::to_string(count) + " points for block " + std::to_string(index));
  }
  InterferogramRecord record;
  record.title = "stored block " + std::to_string(index);
  record.volts.assign(values.begin(), values.begin() + count);
  record.benchDate = dates[static_cast<std::size_t>(index)];
  record.benchIdentity = bench.identity();
  record.setupText = setupText;
  record.scans = storedBlockScans(setupText);
  record.laserWavenumber = defaultLaserWavenumber();
  record.undersampling = undersamplingOf(settings.lasersamp);
  applyNotes(record, options.notes);
  const SavedFiles files = output.save(record, storedBlockStem(record.benchDate, index));
  std::cout << "saved " << record.title << " (" << count << " points, " << printableAscii(record.benchDate) << "): " << files.csv
            << ", " << fileName(files.jcamp) << (files.png.empty() ? "" : ", " + fileName(files.png)) << "\n";
}

bool executeCommand(const std::string& iniPath, const std::string& command) {
  const CheckedSettings settings = loadSettings(iniPath);
  std::int32_t result = 0;
  if (dorvane_read_command(command.c_str()).kind == DORVANE_COMMAND_WHOAREYOU) {
    // The identity is the one found when the bench was opened.
    OpenBench bench(settings);
    result = spectrometer_execute(command.c_str());
  } else {
    result = spectrometer_execute(command.c_str());
  }
  // These come only from the opening of the port, whatever the command: a failure to name.
  if (result == DORVANE_ERROR_PORT_IN_USE || result == DORVANE_ERROR_PORT_DENIED || result == DORVANE_ERROR_NOT_A_SERIAL_PORT) {
    throw HostFailure(callFailed("spectrometer_execute", result, openFailure(result, settings).c_str()));
  }
  const CommandOutcome outcome = commandOutcome(command, result);
  std::cout << outcome.meaning << "\n";
  return !outcome.failed;
}

void serveVirtualBench(const std::vector<std::string>& benchOptions) {
  catchStopRequests();
  VirtualBench bench(benchOptions, "/dev/null");
  std::cout << "The virtual bench is serving on " << bench.device() << ".\n"
            << "Point the driver at it from another shell:\n"
            << "  export DORVANE_COM" << kVirtualBenchPort << "=" << bench.device() << "\n"
            << "  printf '[Settings]\\nport=" << kVirtualBenchPort << "\\nbaud=38400\\npoints=16384\\n' > bench.ini\n"
            << "  dorvane info --ini bench.ini\n"
            << "Ctrl-C stops the bench." << std::endl;
  const bool stopped = bench.waitWhileRunning();
  const int status = bench.stop();
  if (!stopped) throw HostFailure("the virtual bench ended by itself (status " + std::to_string(status) + ")");
  std::cout << "the virtual bench has stopped" << std::endl;
}

ProcessingOptions demoProcessing() {
  ProcessingOptions processing;
  processing.range = WavenumberRange{kDemoLowWavenumber, kDemoHighWavenumber};
  return processing;
}

void runDemo(const DemoOptions& options) {
  catchStopRequests();
  std::error_code error;
  std::filesystem::create_directories(options.folder, error);
  if (error) throw HostFailure("cannot create the demo folder " + options.folder + ": " + error.message());
  const std::filesystem::path folder = std::filesystem::absolute(options.folder);

  std::vector<std::string> benchArguments{"--seed", "1", "--sample", "polystyrene"};
  benchArguments.insert(benchArguments.end(), options.benchOptions.begin(), options.benchOptions.end());
  const std::string benchLog = (folder / "virtual-bench.log").string();
  VirtualBench bench(benchArguments, benchLog);
  setEnvironment("DORVANE_COM" + std::to_string(kVirtualBenchPort), bench.device());

  // The settings a bench of this kind would be run with, and the driver's log switched on.
  const std::string ini = (folder / "dorvane.ini").string();
  {
    std::ofstream settings(ini, std::ios::trunc);
    settings << "; written by dorvane demo for the virtual bench on " << bench.device() << "\n"
             << "[Settings]\nport=" << kVirtualBenchPort << "\nbaud=38400\nlog=1\nfvel=4\nrvel=4\npoints=16384\n"
             << "gain=0\nlasersamp=2\nlturn=1000\nqturn=300\ndetector=1\niris=50\n";
    if (!settings.flush()) throw HostFailure("cannot write the settings file " + ini);
  }
  std::cout << "virtual bench with a polystyrene film on " << bench.device() << "; settings in " << ini << "\n";
  const CheckedSettings settings = loadSettings(ini);

  // One file through the driver with the shuttle at `position`. The command string names position 1
  // with any argument but 0, which names position 2.
  const auto acquireWithShuttle = [&](int position, const std::string& where, const std::string& prefix) {
    const std::string command = position == 2 ? "shuttle 0" : "shuttle 1";
    std::cout << "moving the shuttle to position " << position << " (" << where << ") with \"" << command
              << "\"; the bench settles for 10 s" << std::endl;
    const CommandOutcome moved = commandOutcome(command, spectrometer_execute(command.c_str()));
    if (moved.failed) throw HostFailure("the shuttle did not move to position " + std::to_string(position) + ": " + moved.meaning);
    if (stopRequested()) throw stoppedBy("; the port is closed");
    AcquireOptions acquisition;
    acquisition.files = 1;
    acquisition.scans = options.scans;
    acquisition.folder = folder.string();
    acquisition.prefix = prefix;
    acquisition.settings = settings;
    // The demo's folder is its own: a second demo replaces the first one's files.
    acquisition.overwrite = true;
    std::vector<AcquiredFile> acquired;
    // Each acquisition counts from 1; the live view counts the demo's files.
    LiveNumbering numbering(options.live, position == 2 ? 0 : 1);
    if (options.live) acquisition.observer = &numbering;
    acquire(acquisition, [&acquired, &options, &numbering](const AcquiredFile& file) {
      acquired.push_back(file);
      if (options.live) {
        options.live->saved(numbering.number(file.number), recordTimeText(file.record), file.files.jcamp,
                            {file.files.csv, file.files.jcamp, file.files.png});
      }
      return std::string();
    });
    if (acquired.empty()) throw HostFailure("the virtual bench sent no " + prefix + " file");
    return acquired.front();
  };
  if (options.live) options.live->expectFiles(2);
  const AcquiredFile background = acquireWithShuttle(2, "the open beam, for the background", "background");
  if (options.live) options.live->setBackground(background.record, background.files.jcamp);
  const AcquiredFile sample = acquireWithShuttle(1, "the film in the beam, for the sample", "polystyrene");
  bench.stop();

  SpectrumMaker maker(demoProcessing());
  maker.setBackground(background.record, background.files.jcamp);
  SpectrumRecord absorbance = maker.make(sample.record, sample.files.jcamp);
  absorbance.bands = findBands(absorbance, kBandSearchLow, kDemoHighWavenumber, kBandHeight, kBandProminence);
  const SavedFiles spectrumFiles = SpectrumSaver(Existing::Replace, true).save(absorbance, folder.string(), spectrumStem(sample.files.jcamp, absorbance.kind));

  std::cout << "\ntwo interferograms from the virtual bench (" << benchName(sample.record.benchIdentity) << "), "
            << options.scans << " scans each:\n";
  for (const AcquiredFile* file : {&background, &sample}) {
    const std::vector<double>& volts = file->record.volts;
    const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
    const std::optional<std::int32_t> zpd = zpdIndexOf(volts);
    std::cout << "  " << fileName(file->files.csv) << ": " << volts.size() << " points at " << recordTimeText(file->record)
              << ", " << *low << " V to " << *high << " V, centre burst at point " << (zpd ? std::to_string(*zpd) : "?")
              << "\n    " << file->files.csv << "\n    " << file->files.jcamp << "\n";
    if (!file->files.png.empty()) std::cout << "    " << file->files.png << "\n";
  }
  std::cout << "the polystyrene absorbance:\n    " << spectrumFiles.csv << "\n    " << spectrumFiles.jcamp << "\n";
  if (!spectrumFiles.png.empty()) std::cout << "    " << spectrumFiles.png << "\n";

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

}  // namespace dorvane::host
