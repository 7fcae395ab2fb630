// The acquisition's fault paths through a scripted driver: for each, what the user sees (stdout,
// stderr, the exit status) and what is on disk after (the files saved whole, the series table's
// rows). Each test runs in a process of its own (ctest), since a stop request is the process's.
#include <fnmatch.h>
#include <sys/resource.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/fake_driver.h"
#include "host/acquisition/acquire.h"
#include "host/analysis/tracking.h"
#include "host/files/interferogram_reader.h"
#include "host/files/series_reader.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "tests/host/saved_files.h"
#include "tests/support/test_support.h"

namespace dorvane::host {
namespace {

namespace fs = std::filesystem;
using testing::DriverCall;
using testing::FakeDriver;
using testing::FileComes;

// Whole and the same to the files' precision.
::testing::AssertionResult sameVolts(const std::vector<double>& read, const std::vector<double>& sent) {
  if (read.size() != sent.size()) return ::testing::AssertionFailure() << read.size() << " points of " << sent.size();
  for (std::size_t i = 0; i < read.size(); ++i) {
    if (std::abs(read[i] - sent[i]) > 1e-4) return ::testing::AssertionFailure() << "point " << i << ": " << read[i] << " for " << sent[i];
  }
  return ::testing::AssertionSuccess();
}

// Each pattern ('*' for any text) matches a line of `lines`; lines written by the loop and by the
// saving thread come in either order.
::testing::AssertionResult allFound(const std::vector<std::string>& lines, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    const bool found = std::any_of(lines.begin(), lines.end(),
                                   [&](const std::string& line) { return ::fnmatch(pattern.c_str(), line.c_str(), 0) == 0; });
    if (!found) return ::testing::AssertionFailure() << "no line like: " << pattern;
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The course as the live view would see it, one word a step; `react` is what the test does at a step
// (a stop request, a held file let go), on the thread that takes the step.
class RecordingObserver final : public AcquireObserver {
 public:
  std::function<void(const std::string& step)> react = [](const std::string&) {};

  std::vector<std::string> steps() {
    std::lock_guard hold(lock_);
    return steps_;
  }

  void started(std::int32_t, std::int32_t, std::int32_t, std::optional<double>) override { add("started"); }
  void scanning(std::int32_t number) override { add("scanning " + std::to_string(number)); }
  void waiting(std::int32_t number, double) override { add("waiting " + std::to_string(number)); }
  void transferring(std::int32_t number) override { add("transferring " + std::to_string(number)); }
  void saved(const std::shared_ptr<const AcquiredFile>& file) override { add("saved " + std::to_string(file->number)); }
  void drawn(std::int32_t, const std::vector<std::string>&) override {}
  void notice(const std::string& line) override { add("notice " + line); }
  void remark(const std::string& line) override { add("remark " + line); }
  void ended(const std::string& failure, bool stopped) override { add(stopped ? "stopped" : failure.empty() ? "ended" : "failed"); }

 private:
  void add(const std::string& step) {
    {
      std::lock_guard hold(lock_);
      steps_.push_back(step);
    }
    react(step);
  }
  std::mutex lock_;
  std::vector<std::string> steps_;
};

// One fault and what it must come to.
struct FaultCase {
  const char* name;
  std::vector<FileComes> script;
  std::int32_t files;
  std::function<void(FakeDriver&, AcquireOptions&, RecordingObserver&)> arrange;
  int status;                        // the exit status
  std::vector<int> saved;            // the numbers of the files on disk after
  std::vector<std::string> out;      // lines on stdout, '*' for any text
  std::string lastError;             // the last line on stderr, '*' for any text
  std::vector<std::string> steps;    // the observer's steps, '*' for any text
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class AcquisitionFault : public ::testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    catchStopRequests();
    if (stopRequested()) GTEST_SKIP() << "a stop request is the process's: run one test per process, as ctest does";
  }

  dorvane::testing::ScratchDirectory scratch_;
};

constexpr const char* kStoppedAnswering =
    "dorvane: the bench on * stopped answering during file 2's transfer*after 1 file saved; the port is closed";

const FaultCase kFaultCases[] = {
    {"FilesReplacedBeforeFetched", {FileComes::Arrives, FileComes::WithTheNext}, 4, {}, 0, {1, 3, 4},
     {"saved file 1 of 4: *", "dorvane: file 2 was replaced by a newer one before it could be fetched", "saved file 3 of 4: *",
      "saved file 4 of 4: *"}, "", {"notice file 2 was replaced by a newer one before it could be fetched", "ended"}},
    {"FileNotRetrievable", {FileComes::Arrives, FileComes::Unretrievable}, 3, {}, 0, {1, 3},
     {"saved file 1 of 3: *", "dorvane: file 2 could not be retrieved from the bench; skipped", "saved file 3 of 3: *"}, "",
     {"saved 1", "notice file 2 could not be retrieved from the bench; skipped", "ended"}},
    {"TimeOut", {FileComes::Arrives, FileComes::Held}, 3,
     [](FakeDriver&, AcquireOptions& options, RecordingObserver&) { options.timeoutSeconds = 1; }, kExitFailure, {1},
     {"saved file 1 of 3: *"},
     "dorvane: no file from the bench in 1 s: it may have stopped answering (--timeout sets the wait) after 1 file saved; "
     "the port is closed",
     {"saved 1", "failed"}},
    // A driver failure in each phase.
    {"SetUpFails", {}, 3,
     [](FakeDriver& driver, AcquireOptions&, RecordingObserver&) { driver.fail(DriverCall::Initialize, 1, 1); }, kExitFailure, {},
     {}, "dorvane: spectrometer_initialize returned 1: the bench did not take the scan settings", {}},
    {"FirstStartFails", {}, 3,
     [](FakeDriver& driver, AcquireOptions&, RecordingObserver&) { driver.fail(DriverCall::StartCoadd, 1, 1); }, kExitFailure, {},
     {}, "dorvane: spectrometer_startCoadd returned 1: the bench did not start its first scan", {}},
    {"FirstStartRefused", {}, 3, [](FakeDriver& driver, AcquireOptions&, RecordingObserver&) { driver.refuseStarts(); },
     kExitFailure, {}, {},
     "dorvane: spectrometer_startCoadd returned 1: the driver refused to start its first scan: its previous acquisition "
     "still holds the port (the driver's log tells more)",
     {}},
    {"BlockFailsWhileScanning", {FileComes::Arrives, FileComes::BlockFails}, 3, {}, kExitFailure, {1}, {"saved file 1 of 3: *"},
     "dorvane: the acquisition ended early: the bench did not start a scan (the driver's log tells why) after 1 file saved; "
     "the port is closed",
     {"saved 1", "failed"}},
    {"FetchFails", {FileComes::Arrives, FileComes::FetchFails}, 3, {}, kExitFailure, {1}, {"saved file 1 of 3: *"},
     kStoppedAnswering, {"saved 1", "failed"}},
    {"TimedSeriesNextStartFails", {}, 3,
     [](FakeDriver& driver, AcquireOptions& options, RecordingObserver&) {
       options.everySeconds = 0.001;
       driver.fail(DriverCall::StartCoadd, 2, 1);
     },
     kExitFailure, {1}, {"saved file 1 of 3: *"},
     "dorvane: spectrometer_startCoadd returned 1: the bench did not start file 2 after 1 file saved; the port is closed",
     {"saved 1", "failed"}},
    // A stop in each phase.
    {"StopWhileSettingUp", {}, 3,
     [](FakeDriver& driver, AcquireOptions&, RecordingObserver&) { driver.stopAt(DriverCall::Initialize, 1); }, kExitStopped,
     {}, {}, "dorvane: stopped by Ctrl-C before the acquisition began; the port is closed", {}},
    {"StopBeforeTheFirstFile", {FileComes::Held}, 3,
     [](FakeDriver& driver, AcquireOptions&, RecordingObserver&) { driver.stopAt(DriverCall::StartCoadd, 1); }, kExitStopped, {},
     {}, "dorvane: stopped after 0 files (Ctrl-C); the port is closed", {"stopped"}},
    {"StopWhileScanning", {FileComes::Arrives, FileComes::Held}, 3,
     [](FakeDriver& driver, AcquireOptions&, RecordingObserver&) { driver.stopAt(DriverCall::GetScanProgress, 1); },
     kExitStopped, {1}, {"saved file 1 of 3: *"}, "dorvane: stopped after 1 file (Ctrl-C), saved in *; the port is closed",
     {"saved 1", "stopped"}},
    // Ctrl-C while a file is on the line lets it arrive.
    {"StopWhileTransferring", {FileComes::Held, FileComes::Held}, 3,
     [](FakeDriver& driver, AcquireOptions&, RecordingObserver& observer) {
       observer.react = [&driver](const std::string& step) {
         if (step != "transferring 1") return;
         std::raise(SIGINT);
         driver.release();
       };
     },
     kExitStopped, {1}, {"saved file 1 of 3: *"}, "dorvane: stopped after 1 file (Ctrl-C), saved in *; the port is closed",
     {"transferring 1", "saved 1", "stopped"}},
    {"StopBetweenFilesOfATimedSeries", {}, 3,
     [](FakeDriver&, AcquireOptions& options, RecordingObserver& observer) {
       options.everySeconds = 3600;
       observer.react = [](const std::string& step) {
         if (step == "waiting 2") std::raise(SIGINT);
       };
     },
     kExitStopped, {1}, {"saved file 1 of 3: *"}, "dorvane: stopped after 1 file (Ctrl-C), saved in *; the port is closed",
     {"waiting 2", "stopped"}},
    // File 1 takes longer than the period: it is let go only once the loop has seen it on the line,
    // which it says a second after its scans at the earliest.
    {"ScheduleSlips", {FileComes::Held}, 2,
     [](FakeDriver& driver, AcquireOptions& options, RecordingObserver& observer) {
       options.everySeconds = 0.5;
       observer.react = [&driver](const std::string& step) {
         if (step == "transferring 1") driver.release();
       };
     },
     0, {1, 2},
     {"saved file 1 of 2: *", "dorvane: the schedule slipped: file 2 starts * late (--every 0.5 s is shorter than file 1 took)",
      "saved file 2 of 2: *"},
     "", {"transferring 1", "remark the schedule slipped: file 2 starts *", "ended"}},
    // The disk fills while file 2 is written: every file may now hold at most 1 KiB (as a full disk,
    // the write fails part way); file 1's set stays whole and nothing of file 2's is left.
    {"DiskFillsWhileSaving", {}, 3,
     [](FakeDriver&, AcquireOptions&, RecordingObserver& observer) {
       observer.react = [](const std::string& step) {
         if (step != "saved 1") return;
         std::signal(SIGXFSZ, SIG_IGN);
         const rlimit full{1024, 1024};
         ::setrlimit(RLIMIT_FSIZE, &full);
       };
     },
     kExitFailure, {1}, {"saved file 1 of 3: *"},
     "dorvane: cannot write *run-002.*: File too large; the acquisition is stopped and the port closed (1 file saved)",
     {"saved 1", "failed"}},
    // A folder that refuses the next file: one of the user's own stands where file 2's set goes.
    {"SaveRefused", {}, 3,
     [](FakeDriver&, AcquireOptions& options, RecordingObserver&) {
       std::ofstream(fs::path(options.folder) / "run-002.csv") << "the user's own\n";
     },
     kExitFailure, {1}, {"saved file 1 of 3: *"}, "dorvane: *; the acquisition is stopped and the port closed (1 file saved)",
     {"saved 1", "failed"}},
};

// On disk after the run: every file of `saved` whole (JCAMP-DX read back, CSV by hand), no other
// file of the run, and the series table with a row for each saved file and none for another.
void expectOnDisk(const fs::path& folder, const FakeDriver& driver, const std::vector<int>& saved) {
  std::vector<std::string> stems;
  for (const int number : saved) {
    char stem[16];
    std::snprintf(stem, sizeof stem, "run-%03d", number);
    stems.push_back(stem);
    const InterferogramReading reading = readInterferogramFile((folder / (std::string(stem) + ".jdx")).string());
    ASSERT_EQ(reading.failure, "") << stem;
    EXPECT_TRUE(sameVolts(reading.record.volts, driver.voltsOf(number))) << stem;
    EXPECT_TRUE(sameVolts(testing::csvValues((folder / (std::string(stem) + ".csv")).string()), driver.voltsOf(number)))
        << stem;
  }
  std::vector<std::string> jcampFiles;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".jdx") jcampFiles.push_back(entry.path().stem().string());
  }
  std::sort(jcampFiles.begin(), jcampFiles.end());
  EXPECT_EQ(jcampFiles, stems);

  // The series table has a row for each file saved, and none for a file that is not.
  const fs::path seriesPath = folder / "run-series.csv";
  if (stems.empty()) {
    EXPECT_FALSE(fs::exists(seriesPath));
  } else {
    const SeriesReading series = readSeriesFile(seriesPath.string());
    ASSERT_EQ(series.failure, "");
    EXPECT_EQ(series.table.seconds.size(), stems.size());
    const std::string table = testing::readWholeFile(seriesPath);
    for (const std::string& stem : stems) EXPECT_NE(table.find(stem), std::string::npos) << stem << " has no row:\n" << table;
  }
}

TEST_P(AcquisitionFault, TellsTheUserAndKeepsWhatWasSaved) {
  const FaultCase& fault = GetParam();
  FakeDriver driver(fault.script);
  RecordingObserver observer;
  const std::string folder = scratch_.path().string();
  // The port's device is there: a bench that fails is a bench that stopped answering, not one gone.
  const std::string device = scratch_.write("bench", "");
  testing::ScopedEnvironmentVariable port("DORVANE_COM1", device);

  AcquireOptions options;
  options.driver = &driver;
  options.observer = &observer;
  options.points = 512;
  options.files = fault.files;
  options.folder = folder;
  options.prefix = "run";
  options.plot = false;
  options.settings.port = 1;
  options.settings.baud = 115200;
  options.settings.path = "bench.ini";
  options.spectra = std::make_shared<SpectrumMaker>(ProcessingOptions{});
  options.tracks = parseTracks({"band=1000:2000"});
  if (fault.arrange) fault.arrange(driver, options, observer);

  std::ostringstream out, err;
  std::streambuf* const realOut = std::cout.rdbuf(out.rdbuf());
  std::streambuf* const realErr = std::cerr.rdbuf(err.rdbuf());
  int status = 0;
  try {
    acquire(options);
  } catch (const HostFailure& failure) {
    status = failure.exitStatus();
    std::cerr << "dorvane: " << failure.what() << "\n";
  }
  std::cout.rdbuf(realOut);
  std::cerr.rdbuf(realErr);

  EXPECT_EQ(status, fault.status);
  EXPECT_TRUE(allFound(linesOf(out.str()), fault.out)) << out.str();
  const std::vector<std::string> errors = linesOf(err.str());
  if (fault.lastError.empty()) {
    EXPECT_TRUE(errors.empty()) << err.str();
  } else {
    ASSERT_FALSE(errors.empty());
    EXPECT_TRUE(allFound({errors.back()}, {fault.lastError})) << err.str();
  }
  EXPECT_TRUE(allFound(observer.steps(), fault.steps));
  EXPECT_FALSE(driver.open()) << "the port is left open";

  expectOnDisk(scratch_.path(), driver, fault.saved);
  if (std::string(fault.name) == "SaveRefused") {
    EXPECT_EQ(testing::readWholeFile(scratch_.path() / "run-002.csv"), "the user's own\n") << "the user's file was touched";
  }
}

INSTANTIATE_TEST_SUITE_P(Acquisition, AcquisitionFault, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dorvane::host
