// info, list, fetch, exec, sim and demo: each a short story over the driver's exports.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "dorvane.h"
#include "tools/commands.h"
#include "tools/host_failure.h"
#include "tools/host_os.h"

namespace dorvane::host {
namespace {

// The text exports' documented buffer sizes, and a terminator of our own past them.
constexpr std::size_t kBlockListSize = 6121;
// A stored block holds at most this many points: the driver refuses longer ones.
constexpr std::size_t kLargestBlock = 4194304;

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

// Where the interferogram's centre burst lies: the point farthest from the mean.
std::size_t centreBurst(const std::vector<double>& volts) {
  double mean = 0;
  for (double v : volts) mean += v;
  mean /= static_cast<double>(volts.size());
  std::size_t at = 0;
  for (std::size_t i = 1; i < volts.size(); ++i) {
    if (std::fabs(volts[i] - mean) > std::fabs(volts[at] - mean)) at = i;
  }
  return at;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

void showInfo(const std::string& iniPath) {
  loadSettings(iniPath);
  OpenBench bench;
  std::cout << "bench: " << benchName(bench.identity()) << " (whoAreYou " << bench.identity() << ")\n";
  std::cout << bench.setupText();
}

void listStoredBlocks(const std::string& iniPath) {
  loadSettings(iniPath);
  OpenBench bench;
  const std::vector<std::string> dates = storedBlockDates();
  if (dates.empty()) std::cout << "the bench holds no stored blocks\n";
  for (std::size_t i = 0; i < dates.size(); ++i) std::cout << i << "  " << dates[i] << "\n";
}

void fetchStoredBlock(const std::string& iniPath, std::int32_t index, const std::string& folder, bool plot) {
  loadSettings(iniPath);
  OutputFolder output(folder, plot);
  OpenBench bench;
  const std::vector<std::string> dates = storedBlockDates();
  if (index < 0 || static_cast<std::size_t>(index) >= dates.size()) {
    throw HostFailure("no stored block " + std::to_string(index) + ": the bench holds " + std::to_string(dates.size()) +
                      " (dorvane list shows them)");
  }
  std::vector<double> values(kLargestBlock);
  std::int32_t count = 0;
  const std::int32_t result = getRemoteData(index, values.data(), &count);
  if (result != 0) throw HostFailure(callFailed("getRemoteData", result, result == 1 ? "the block could not be retrieved" : nullptr));
  if (count <= 0 || static_cast<std::size_t>(count) > values.size()) {
    throw HostFailure("getRemoteData reported " + std::to_string(count) + " points for block " + std::to_string(index));
  }
  InterferogramRecord record;
  record.title = "stored block " + std::to_string(index);
  record.volts.assign(values.begin(), values.begin() + count);
  record.benchDate = dates[static_cast<std::size_t>(index)];
  record.benchIdentity = bench.identity();
  record.setupText = bench.setupText();
  const SavedFiles files = output.save(record, "stored-block-" + std::to_string(index));
  std::cout << "saved " << record.title << " (" << count << " points, " << record.benchDate << "): " << files.csv
            << ", " << fileName(files.jcamp) << (files.png.empty() ? "" : ", " + fileName(files.png)) << "\n";
}

bool executeCommand(const std::string& iniPath, const std::string& command) {
  loadSettings(iniPath);
  std::int32_t result = 0;
  if (commandWord(command) == "whoareyou") {
    // The identity is the one found when the bench was opened.
    OpenBench bench;
    result = spectrometer_execute(command.c_str());
  } else {
    result = spectrometer_execute(command.c_str());
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

void runDemo(const DemoOptions& options) {
  catchStopRequests();
  std::error_code error;
  std::filesystem::create_directories(options.folder, error);
  if (error) throw HostFailure("cannot create the demo folder " + options.folder + ": " + error.message());
  const std::filesystem::path folder = std::filesystem::absolute(options.folder);

  std::vector<std::string> benchArguments{"--seed", "1"};
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
  std::cout << "virtual bench on " << bench.device() << "; settings in " << ini << "\n";
  loadSettings(ini);

  AcquireOptions acquisition;
  acquisition.files = options.files;
  acquisition.scans = options.scans;
  acquisition.folder = folder.string();
  acquisition.prefix = "interferogram";
  acquisition.timeoutSeconds = 60;
  std::vector<AcquiredFile> acquired;
  acquire(acquisition, [&acquired](const AcquiredFile& file) { acquired.push_back(file); });
  bench.stop();

  std::cout << "\n" << acquired.size() << " interferograms from the virtual bench ("
            << benchName(acquired.empty() ? 0 : acquired.front().record.benchIdentity) << "), "
            << options.scans << " scans each:\n";
  for (const AcquiredFile& file : acquired) {
    const std::vector<double>& volts = file.record.volts;
    const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
    std::cout << "  file " << file.number << ": " << volts.size() << " points at " << recordTimeText(file.record)
              << ", " << *low << " V to " << *high << " V, centre burst at point " << centreBurst(volts) << "\n"
              << "    " << file.files.csv << "\n    " << file.files.jcamp << "\n";
    if (!file.files.png.empty()) std::cout << "    " << file.files.png << "\n";
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
