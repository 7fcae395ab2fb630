// The acquisition loop: wait on the co-add event (no polling of the driver), fetch, save, repeat.
// Three threads: the loop fetches, the saver writes each file's data, the picture worker draws.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dorvane.h"
#include "host/acquisition/acquire.h"
#include "host/instrument/driver_words.h"
#include "host/acquisition/pictures.h"
#include "host/analysis/tracking.h"
#include "host/files/file_text.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace dorvane::host {
namespace {

using Clock = std::chrono::steady_clock;

// How often the progress line is redrawn while nothing else happens.
constexpr int kProgressTickMs = 250;
// After a file, the driver starts the next scan before it resets its scan count: until then a full
// count is the last file's, not a transfer of the next.
constexpr double kNextScanStartSeconds = 1.0;
// A bench whose setup gives no scan time is taken to need this long a scan, for the time-out alone.
constexpr double kAssumedScanSeconds = 1.0;
// The default time-out: twice the expected time of a file and this much more, at least the least.
constexpr double kTimeoutMarginSeconds = 30;
constexpr double kLeastTimeoutSeconds = 60;
// What a transfer may overrun its estimate by before Ctrl-C stops waiting for it.
constexpr double kTransferGraceSeconds = 5;

// How long the bench takes over a file: its scans at the setup's scan time, and the transfer of its
// points over the line. scanSeconds is none when the bench's setup gives no scan time.
struct FileTime {
  std::optional<double> scanSeconds;
  double transferSeconds = 0;
};

// spectrometer_startCoadd's 1 is either the driver's refusal, while an acquisition of its own still
// runs (the status then says so), or the bench's failure to start a scan.
std::string startFailed(std::int32_t result, const std::string& what) {
  if (spectrometer_getStatus() == DORVANE_STATUS_ACQUIRING) {
    return callFailed("spectrometer_startCoadd", result,
                      ("the driver refused to start " + what +
                       ": its previous acquisition still holds the port (the driver's log tells more)")
                          .c_str());
  }
  return callFailed("spectrometer_startCoadd", result, ("the bench did not start " + what).c_str());
}

std::string numbered(const std::string& prefix, std::int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", static_cast<int>(number));
  return prefix + "-" + digits;
}

// "file 2 of 3", or "file 2" of an acquisition that runs until Ctrl-C.
std::string fileTitle(std::int32_t number, std::int32_t files) {
  return "file " + std::to_string(number) + (files > 0 ? " of " + std::to_string(files) : "");
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, seconds < 10 ? "%.1f s" : "%.0f s", seconds);
  return text;
}

// The bytes a point takes on the line: the sums of `scans` 16-bit samples, in 2, 3 or 4 bytes.
int bytesPerPoint(std::int32_t scans) {
  const double largestSum = 65535.0 * std::max(scans, 1);
  return largestSum <= 65535.0 ? 2 : largestSum <= 16777215.0 ? 3 : 4;
}

// What the host knows of the file under way, shared with the line shown at a Ctrl-C, which comes on
// another thread.
struct FilePhase {
  std::atomic<bool> transferring{false};
  std::atomic<double> transferStartedAt{0};  // seconds on `origin`'s clock
  std::atomic<double> transferSeconds{0};    // the estimate
  Clock::time_point origin = Clock::now();

  double now() const { return secondsSince(origin); }
  double transferLeft() const { return std::max(0.0, transferSeconds - (now() - transferStartedAt)); }
};

class ProgressLine {
 public:
  ProgressLine(std::int32_t files, std::int32_t scans, const FilePhase& phase)
      : files_(files), scans_(scans), phase_(phase), terminal_(stdoutIsTerminal()), started_(Clock::now()) {}

  void redraw(std::int32_t done, double fileStartedAt, const FileTime& expected) {
    if (!terminal_) return;
    const double elapsed = secondsSince(started_);
    std::string what;
    if (phase_.transferring) {
      const double took = phase_.now() - phase_.transferStartedAt;
      const double share = phase_.transferSeconds > 0 ? std::min(99.0, 100 * took / phase_.transferSeconds) : 0;
      char text[96];
      std::snprintf(text, sizeof text, "transferring, about %.0f %% (%s of %s)", share, secondsText(took).c_str(),
                    secondsText(phase_.transferSeconds).c_str());
      what = text;
    } else {
      what = "scanning " + counted(scans_, "scan") + ", " + secondsText(phase_.now() - fileStartedAt);
      if (expected.scanSeconds) what += " of about " + secondsText(*expected.scanSeconds);
    }
    char line[224];
    std::snprintf(line, sizeof line, "\r\033[K%s: %s; %.0f s elapsed, %.2f files/min", fileTitle(done + 1, files_).c_str(),
                  what.c_str(), elapsed, elapsed > 0 ? done * 60.0 / elapsed : 0.0);
    platform::ScopedLock hold(lock_);
    std::cout << line << std::flush;
  }
  // Between the files of a timed series.
  void waiting(std::int32_t number, double seconds) {
    if (!terminal_) return;
    const std::string line = "\r\033[K" + fileTitle(number, files_) + ": starts in " + secondsText(seconds) + "; " +
                             secondsText(secondsSince(started_)) + " elapsed";
    platform::ScopedLock hold(lock_);
    std::cout << line << std::flush;
  }
  void print(const std::string& text) {
    platform::ScopedLock hold(lock_);
    if (terminal_) std::cout << "\r\033[K";
    std::cout << text << std::endl;
  }
  void finish() {
    platform::ScopedLock hold(lock_);
    if (terminal_) std::cout << "\r\033[K" << std::flush;
  }

 private:
  std::int32_t files_, scans_;
  const FilePhase& phase_;
  bool terminal_;
  Clock::time_point started_;
  platform::Mutex lock_;
};

// The steps where nobody observes.
struct NoObserver final : AcquireObserver {
  void started(std::int32_t, std::int32_t, std::int32_t, std::optional<double>) override {}
  void scanning(std::int32_t) override {}
  void waiting(std::int32_t, double) override {}
  void transferring(std::int32_t) override {}
  void saved(const std::shared_ptr<const AcquiredFile>&) override {}
  void drawn(std::int32_t, const std::vector<std::string>&) override {}
  void notice(const std::string&) override {}
  void remark(const std::string&) override {}
  void ended(const std::string&, bool) override {}
};

std::string stemOf(const SavedFiles& files) { return std::filesystem::path(files.jcamp()).stem().string(); }

// Now, in ms since 1970 UTC: when a file began, as its record keeps it.
double wallClockMs() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The series table, made at the first row: its header names what the spectra are.
class SeriesTable {
 public:
  SeriesTable(const AcquireOptions& options, const OutputFolder& output)
      : options_(options), existing_(options.overwrite ? Existing::Replace : Existing::Keep),
        path_((std::filesystem::path(output.path()) / seriesFileName(options.prefix)).string()) {}

  // The first file began at `originMs`: the rows count their seconds from it.
  void startsAt(double originMs) { originMs_ = originMs; }

  const std::string& path() const { return path_; }
  // "" or the line the table's name would be refused with, for the check before the first scan.
  std::string inTheWay() const { return nameInTheWay({path_}, existing_); }

  SeriesRow add(const AcquiredFile& file, const std::string& stem) {
    SeriesRow row;
    row.seconds = (file.record.startedMs - originMs_) / 1000;
    row.file = stem;
    if (file.spectrum) {
      row.bands = measureBands(*file.spectrum, options_.tracks);
    } else {
      row.bands.resize(options_.tracks.size());  // no spectrum: the row says so with empty values
    }
    if (!file_) file_.emplace(path_, seriesHeader(options_.tracks, spectrumKindName(options_.spectra->kind())), existing_);
    file_->append(row);
    return row;
  }

 private:
  const AcquireOptions& options_;
  Existing existing_;
  double originMs_ = 0;
  std::string path_;
  std::optional<SeriesFile> file_;
};

// Saves on a thread of its own, so that fetching the next co-add never waits for the disk: the
// driver keeps only the newest co-add, and a slow save would let the next replace it. The data
// first; the pictures go to the picture worker, which never holds the saving up.
class Saver {
 public:
  Saver(const AcquireOptions& options, OutputFolder& output, ProgressLine& progress, AcquireObserver& observer,
        SeriesTable* series)
      : options_(options), output_(output), progress_(progress), observer_(observer), series_(series) {
    if (output_.pictures()) pictures_.emplace([this](const AcquiredFile& file) { return drawPictures(file); });
    if (!worker_.start([this] { return work(); }, platform::ThreadPriority::normal)) {
      throw HostFailure("cannot start the thread that saves the files");
    }
  }
  ~Saver() { finish(false); }

  void push(AcquiredFile file, std::string stem) {
    platform::ScopedLock hold(lock_);
    queue_.emplace_back(std::move(file), std::move(stem));
    changed_.set();
  }
  // Saves what was handed over and ends the thread; the pictures' worker draws the file waiting
  // too when `drawWaiting`, else only finishes the one it draws. The first failure's line, or empty.
  std::string finish(bool drawWaiting) {
    {
      platform::ScopedLock hold(lock_);
      closing_ = true;
      changed_.set();
    }
    if (worker_.joinable()) worker_.join();
    if (pictures_) pictures_->finish(drawWaiting);
    return failure_;
  }
  bool failed() {
    platform::ScopedLock hold(lock_);
    return !failure_.empty();
  }
  std::int32_t saved() const { return saved_; }
  // After finish: "" or the line that tells how many pictures were drawn and how to draw the rest.
  std::string picturesLeft() const;

 private:
  std::uint32_t work();
  void save(AcquiredFile& file, const std::string& stem);
  void addSpectrum(AcquiredFile& file);
  bool drawPictures(const AcquiredFile& file);

  const AcquireOptions& options_;
  OutputFolder& output_;
  ProgressLine& progress_;
  AcquireObserver& observer_;
  SeriesTable* series_;
  platform::Mutex lock_;
  platform::Event changed_;  // set while there is something to save, or the end to see
  std::deque<std::pair<AcquiredFile, std::string>> queue_;
  bool closing_ = false;
  std::string failure_;
  std::atomic<std::int32_t> saved_{0};
  std::atomic<bool> plotterMissing_{false};
  std::optional<PictureWorker> pictures_;
  platform::Thread worker_;
};

std::uint32_t Saver::work() {
  for (;;) {
    changed_.wait(platform::kWaitForever);
    std::pair<AcquiredFile, std::string> next;
    {
      platform::ScopedLock hold(lock_);
      if (queue_.empty()) {
        if (closing_) return 0;
        // Reset under the lock that push and finish set it under: no change goes unseen.
        changed_.reset();
        continue;
      }
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      save(next.first, next.second);
    } catch (const std::exception& failure) {
      platform::ScopedLock hold(lock_);
      failure_ = failure.what();
      return 0;
    }
  }
}

void Saver::save(AcquiredFile& file, const std::string& stem) {
  file.files = output_.save(file.record, stem, SetMembers::Data);
  if (options_.spectra) addSpectrum(file);
  if (series_) file.row = series_->add(file, stem);
  ++saved_;
  auto shared = std::make_shared<const AcquiredFile>(std::move(file));
  observer_.saved(shared);
  std::string more;
  if (shared->spectrum && !shared->spectrumFiles.paths.empty()) {
    more = "; " + std::string(spectrumKindName(shared->spectrum->kind)) + ": " + shared->spectrumFiles.csv();
  }
  progress_.print("saved " + shared->record.title + ": " + shared->files.csv() + more);
  if (pictures_) pictures_->offer(std::move(shared));
}

// A spectrum that cannot be made fails the file only when it is to be saved; the live view, which
// shows it otherwise, says why it has none.
void Saver::addSpectrum(AcquiredFile& file) {
  try {
    file.spectrum = options_.spectra->make(file.record, file.files.jcamp());
  } catch (const HostFailure& failure) {
    if (options_.saveSpectra) throw;
    file.spectrumError = failure.what();
    return;
  }
  if (options_.saveSpectra) {
    file.spectrumFiles = output_.save(*file.spectrum, spectrumStem(file.files.jcamp(), file.spectrum->kind), SetMembers::Data);
  }
}

bool Saver::drawPictures(const AcquiredFile& file) {
  try {
    std::vector<std::string> drawn = output_.save(file.record, stemOf(file.files), SetMembers::Pictures).paths;
    if (file.spectrum && !file.spectrumFiles.paths.empty()) {
      const SavedFiles more = output_.save(*file.spectrum, stemOf(file.spectrumFiles), SetMembers::Pictures);
      drawn.insert(drawn.end(), more.paths.begin(), more.paths.end());
    }
    if (drawn.empty()) {
      plotterMissing_ = true;
      return false;
    }
    observer_.drawn(file.number, drawn);
    return true;
  } catch (const HostFailure& failure) {
    progress_.print(std::string("dorvane: ") + failure.what());
    observer_.notice(failure.what());
    return false;
  }
}

std::string Saver::picturesLeft() const {
  if (!pictures_ || plotterMissing_ || pictures_->drawn() >= saved_) return {};
  return "pictures drawn for " + std::to_string(pictures_->drawn()) + " of " + counted(saved_, "file") +
         " (the others were overtaken by newer files or failed); draw the rest with: dorvane plot " +
         shownPath((std::filesystem::path(output_.path()) / (options_.prefix + "-*" + std::string(kRecordExtension))).string());
}

int defaultTimeoutSeconds(const FileTime& expected, std::int32_t scans) {
  const double file = expected.scanSeconds.value_or(kAssumedScanSeconds * scans) + expected.transferSeconds;
  return static_cast<int>(std::ceil(std::max(kLeastTimeoutSeconds, 2 * file + kTimeoutMarginSeconds)));
}

std::string expectedText(const FileTime& expected, std::int32_t scans) {
  std::string text = counted(scans, "scan");
  if (expected.scanSeconds) text += " in about " + secondsText(*expected.scanSeconds);
  return text + " and " + secondsText(expected.transferSeconds) + " of transfer";
}

// Checked before the bench is touched: the points, the folder, and the first file's names.
std::int32_t checkedPoints(const AcquireOptions& options) {
  const std::optional<std::int32_t> points = options.points ? options.points : options.settings.points;
  if (!points) {
    throw HostFailure(shownPath(options.settings.path) + ": no points= in [Settings] and no --points: give the points per "
                      "scan, 1 to " + std::to_string(kLargestPointsRequest));
  }
  if (*points > kLargestPointsRequest) throw HostFailure(tooManyPoints("--points " + std::to_string(*points)), kExitUsage);
  return *points;
}

// What the bench is set up for, asked before the acquisition holds the port.
struct BenchPlan {
  std::int32_t files = 0, scans = 0;
  std::string setupText;
  FileTime expected;
  int timeoutSeconds = 0;
};

// Hands the settings to the driver, opens the bench and sets it up; the port stays open in `bench`.
BenchPlan setUpBench(const AcquireOptions& options, std::int32_t points, CompletionEvent& coaddDone,
                     std::optional<OpenBench>& bench) {
  spectrometer_setCoaddCompleteEventHandle(coaddDone.handle());
  spectrometer_setPoints(points);
  if (options.gain) spectrometer_setGain(*options.gain);
  if (options.scans) spectrometer_setScans(*options.scans);
  if (options.files) spectrometer_setFiles(*options.files);
  BenchPlan plan;
  plan.files = spectrometer_getFiles();
  plan.scans = spectrometer_getScans();
  // A timed series starts each file on its own: the driver acquires one at a time.
  if (options.everySeconds) spectrometer_setFiles(1);

  bench.emplace(options.settings);
  if (stopRequested()) throw stoppedBy(" before the acquisition began; the port is closed");
  if (const std::int32_t result = spectrometer_initialize(); result != 0) {
    throw HostFailure(callFailed("spectrometer_initialize", result, result == 1 ? "the bench did not take the scan settings" : nullptr));
  }
  // Asked now: while the acquisition runs, the port is its own.
  plan.setupText = bench->setupText();
  if (const std::optional<std::int64_t> scanMs = setupValue(plan.setupText, "scanTime"); scanMs && *scanMs > 0) {
    plan.expected.scanSeconds = static_cast<double>(*scanMs) * plan.scans / 1000;
  }
  plan.expected.transferSeconds = transferSeconds(points + kBenchAddedPoints, bytesPerPoint(plan.scans), options.settings.baud);
  plan.timeoutSeconds = options.timeoutSeconds.value_or(defaultTimeoutSeconds(plan.expected, plan.scans));
  const double fileSeconds = plan.expected.scanSeconds.value_or(0) + plan.expected.transferSeconds;
  if (options.timeoutSeconds && plan.expected.scanSeconds && *options.timeoutSeconds < fileSeconds) {
    std::cerr << "dorvane: --timeout " << *options.timeoutSeconds << " s is shorter than a file is expected to take ("
              << expectedText(plan.expected, plan.scans) << ")" << std::endl;
  }
  if (stopRequested()) throw stoppedBy(" before the acquisition began; the port is closed");
  return plan;
}

// The acquisition from its first scan to its end: the loop waits on the co-add event, fetches each
// file and hands it to the saver.
class Acquisition {
 public:
  // The first file was started at `startedMs` (wall clock), `phase.origin` on the steady clock.
  Acquisition(const AcquireOptions& options, const BenchPlan& plan, std::int32_t benchIdentity, CompletionEvent& coaddDone,
              FilePhase& phase, ProgressLine& progress, Saver& saver, AcquireObserver& observer, double startedMs)
      : options_(options), plan_(plan), benchIdentity_(benchIdentity), coaddDone_(coaddDone), phase_(phase),
        progress_(progress), saver_(saver), observer_(observer), volts_(kLargestCoadd), fileStartedMs_(startedMs) {}

  // Runs until the files are in, a stop or a failure; returns the files saved, or throws.
  std::int32_t run();

 private:
  bool waitForNext();
  bool startOnSchedule();
  bool collect();
  AcquiredFile fetched(std::int32_t count, double timestamp) const;
  void tell(const std::string& line) {
    progress_.print("dorvane: " + line);
    observer_.notice(line);
  }
  std::int32_t end();

  const AcquireOptions& options_;
  const BenchPlan& plan_;
  const std::int32_t benchIdentity_;
  CompletionEvent& coaddDone_;
  FilePhase& phase_;
  ProgressLine& progress_;
  Saver& saver_;
  AcquireObserver& observer_;
  std::vector<double> volts_;
  std::int32_t seen_ = 0;  // files the driver reported complete and the host has dealt with
  std::int32_t driverSeen_ = 0;  // of them, those of the driver's current acquisition
  std::int32_t starts_ = 1;      // acquisitions started: one, or one a file in a timed series
  double fileStartedMs_;         // when the file under way began (wall clock)
  double lastTimestamp_ = -1;
  Clock::time_point lastFileAt_ = Clock::now();
  double fileStartedAt_ = phase_.now();
  // Why the acquisition ended early, and the exit status; none while it runs.
  std::string ending_;
  int endingStatus_ = kExitFailure;
  bool stopping_ = false;  // a stop was asked for while a file was on its way: take it first
  double stopBy_ = 0;
};

std::int32_t Acquisition::run() {
  while (ending_.empty() && (plan_.files <= 0 || seen_ < plan_.files)) {
    if (options_.everySeconds && driverSeen_ > 0 && !startOnSchedule()) break;
    if (!waitForNext()) break;
  }
  return end();
}

// A timed series: waits for the next file's time on the schedule that began with the first file,
// then starts it; a file that is late already starts at once, and says by how much. False when the
// loop is to end.
bool Acquisition::startOnSchedule() {
  const double every = *options_.everySeconds;
  const double due = every * starts_;
  if (phase_.now() < due) observer_.waiting(seen_ + 1, due - phase_.now());
  for (double now = phase_.now(); now < due; now = phase_.now()) {
    progress_.waiting(seen_ + 1, due - now);
    const int waitMs = static_cast<int>(std::ceil(std::min<double>(kProgressTickMs, (due - now) * 1000)));
    if (coaddDone_.wait(waitMs) == CompletionEvent::Wake::StopRequested) return false;
  }
  // Said from 0.1 s late as printed (to the tenth): less is the loop's own waking (within a tick of
  // the system's clock, 16 ms on Windows) or too little to matter, and "0.0 s late" says nothing.
  if (const double late = phase_.now() - due; std::round(late * 10) >= 1) {
    const std::string line = "the schedule slipped: file " + std::to_string(seen_ + 1) + " starts " + secondsText(late) +
                             " late (--every " + numberText(every) + " s is shorter than file " + std::to_string(seen_) + " took)";
    progress_.print("dorvane: " + line);
    observer_.remark(line);
  }
  fileStartedMs_ = wallClockMs();
  if (const std::int32_t result = spectrometer_startCoadd(); result != 0) {
    ending_ = startFailed(result, "file " + std::to_string(seen_ + 1));
    return false;
  }
  ++starts_;
  driverSeen_ = 0;
  lastFileAt_ = Clock::now();
  fileStartedAt_ = phase_.now();
  observer_.scanning(seen_ + 1);
  return true;
}

// One turn of the loop; false when the loop is to end.
bool Acquisition::waitForNext() {
  progress_.redraw(seen_, fileStartedAt_, plan_.expected);
  const CompletionEvent::Wake wake = coaddDone_.wait(kProgressTickMs, stopping_ ? 2 : 1);
  if (wake == CompletionEvent::Wake::StopRequested) {
    if (!stopping_ && phase_.transferring && stopRequestCount() == 1) {
      stopping_ = true;
      stopBy_ = phase_.now() + phase_.transferLeft() + kTransferGraceSeconds;
      return true;
    }
    return false;
  }
  if (saver_.failed()) {
    ending_ = "saving failed";
    return false;
  }
  const std::int32_t before = seen_;
  if (!collect()) return false;
  if (seen_ > before) return !stopping_;
  // The scan count is the file's once the bench is done: from then on the file is on the line.
  if (!phase_.transferring && spectrometer_getScanProgress() >= plan_.scans &&
      std::chrono::duration<double>(Clock::now() - lastFileAt_).count() > kNextScanStartSeconds) {
    phase_.transferStartedAt = phase_.now();
    phase_.transferring = true;
    observer_.transferring(seen_ + 1);
  }
  if (stopping_ && phase_.now() > stopBy_) return false;
  if (spectrometer_getStatus() != DORVANE_STATUS_ACQUIRING && spectrometer_getFileProgress() == driverSeen_) {
    ending_ = portWentAway(options_.settings)
                  ? benchLost(options_.settings, "before file " + std::to_string(seen_ + 1) + " began")
                  : "the acquisition ended early: the bench did not start a scan (the driver's log tells why)";
  } else if (Clock::now() - lastFileAt_ > std::chrono::seconds(plan_.timeoutSeconds)) {
    ending_ = "no file from the bench in " + std::to_string(plan_.timeoutSeconds) +
              " s: it may have stopped answering (--timeout sets the wait)";
  }
  return true;
}

// Fetches the newest co-add if the driver counts one more than the host has; false when it failed.
bool Acquisition::collect() {
  const std::int32_t complete = spectrometer_getFileProgress();
  if (complete <= driverSeen_) return true;
  lastFileAt_ = Clock::now();
  fileStartedAt_ = phase_.now();
  const double startedMs = fileStartedMs_;
  // Back to back, the bench begins the next file as soon as this one is done.
  fileStartedMs_ = wallClockMs();
  phase_.transferring = false;
  const std::int32_t count = spectrometer_getPoints();
  double timestamp = 0;
  // The driver counts a file whose retrieval failed, with no co-add for it: the bench went silent
  // or its port went away mid-transfer.
  const std::string lostFile = "during file " + std::to_string(seen_ + complete - driverSeen_) + "'s transfer";
  if (spectrometer_getData(volts_.data(), kLargestCoadd, &timestamp) != 0 || count <= 0 || count > kLargestCoadd) {
    ending_ = benchLost(options_.settings, lostFile);
    return false;
  }
  if (complete > driverSeen_ + 1) {
    tell(counted(complete - driverSeen_ - 1, "file") + " before file " + std::to_string(seen_ + complete - driverSeen_) +
         " were replaced by newer ones before they could be fetched");
  }
  seen_ += complete - driverSeen_;
  driverSeen_ = complete;
  if (!options_.everySeconds && (plan_.files <= 0 || seen_ < plan_.files)) observer_.scanning(seen_ + 1);
  if (timestamp == lastTimestamp_) {
    // A port gone is the end: nothing more will come; a bench that garbled one file may go on.
    if (portWentAway(options_.settings)) {
      ending_ = benchLost(options_.settings, lostFile);
      return false;
    }
    tell("file " + std::to_string(seen_) + " could not be retrieved from the bench; skipped");
    return true;
  }
  lastTimestamp_ = timestamp;
  AcquiredFile file = fetched(count, timestamp);
  file.record.startedMs = startedMs;
  saver_.push(std::move(file), numbered(options_.prefix, seen_));
  return true;
}

AcquiredFile Acquisition::fetched(std::int32_t count, double timestamp) const {
  AcquiredFile file;
  file.number = seen_;
  InterferogramRecord& record = file.record;
  record.title = fileTitle(seen_, plan_.files);
  record.volts.assign(volts_.begin(), volts_.begin() + count);
  record.timestampMs = timestamp;
  record.scans = plan_.scans;
  record.gain = static_cast<std::int32_t>(spectrometer_getGain());
  record.benchIdentity = benchIdentity_;
  record.setupText = plan_.setupText;
  record.laserWavenumber = defaultLaserWavenumber();
  record.undersampling = undersamplingOf(options_.settings.lasersamp);
  applyNotes(record, options_.notes);
  return file;
}

// The stop, the last file, the saves and pictures finished, and the line for how it ended.
std::int32_t Acquisition::end() {
  const bool stopped = stopRequested() && ending_.empty() && (plan_.files <= 0 || seen_ < plan_.files);
  if (stopped) {
    spectrometer_stop();
    // A file the driver finished while the stop was on its way is the user's too.
    collect();
    endingStatus_ = stopCause().exitStatus;
  }
  if (!ending_.empty() || stopped) spectrometer_close();
  const std::string saveFailure = saver_.finish(!stopped && ending_.empty());
  progress_.finish();
  if (const std::string left = saver_.picturesLeft(); !left.empty()) std::cout << left << std::endl;
  std::string failure;
  if (!saveFailure.empty()) {
    spectrometer_close();
    failure = saveFailure + "; the acquisition is stopped and the port closed (" + counted(saver_.saved(), "file") + " saved)";
  } else if (stopped && ending_.empty()) {
    // The folder comes with the first file: a stop before it has nothing to point to.
    failure = "stopped after " + counted(saver_.saved(), "file") + " (" + stopCause().what + ")" +
              (saver_.saved() > 0 ? ", saved in " + shownPath(options_.folder) : "") + "; the port is closed";
  } else if (!ending_.empty()) {
    failure = ending_ + " after " + counted(saver_.saved(), "file") + " saved; the port is closed";
  }
  observer_.ended(failure, stopped && saveFailure.empty());
  if (!failure.empty()) throw HostFailure(failure, saveFailure.empty() ? endingStatus_ : kExitFailure);
  return saver_.saved();
}

}  // namespace

double transferSeconds(std::int64_t points, int bytesPerPoint, std::int32_t baud) {
  // Each packet of up to 240 bytes adds its header, its checksum and the driver's answer.
  constexpr double kPacketShare = 1.03;
  constexpr double kBitsPerByte = 10;
  if (baud <= 0 || points <= 0) return 0;
  return static_cast<double>(points) * bytesPerPoint * kBitsPerByte * kPacketShare / baud;
}

std::int32_t acquire(const AcquireOptions& options) {
  const std::int32_t points = checkedPoints(options);
  OutputFolder output(options.folder, options.plot, options.overwrite ? Existing::Replace : Existing::Keep);
  // An earlier run's files under the same names are found before the first scan, not at the save.
  if (const std::string taken = output.inTheWay(numbered(options.prefix, 1)); !taken.empty()) {
    throw HostFailure(taken + "; or choose another --prefix");
  }
  std::optional<SeriesTable> series;
  if (!options.tracks.empty()) {
    if (!options.spectra) throw std::logic_error("tracked bands need the spectra made");
    series.emplace(options, output);
    if (const std::string taken = series->inTheWay(); !taken.empty()) throw HostFailure(taken + "; or choose another --prefix");
  }
  CompletionEvent coaddDone;
  std::optional<OpenBench> bench;
  const BenchPlan plan = setUpBench(options, points, coaddDone, bench);

  FilePhase phase;
  phase.transferSeconds = plan.expected.transferSeconds;
  // Ctrl-C while the bench sends a file lets the file arrive; shown at once, whatever the loop does.
  setStopNotice([&phase](int count) -> std::string {
    if (count > 1 || !phase.transferring) return "stopping…";
    return "stopping after the current transfer, about " + secondsText(phase.transferLeft()) +
           " more (Ctrl-C again stops at once and loses this file)";
  });
  struct NoticeReset {
    ~NoticeReset() { setStopNotice({}); }
  } noticeReset;

  const double startedMs = wallClockMs();
  phase.origin = Clock::now();
  if (const std::int32_t result = spectrometer_startCoadd(); result != 0) throw HostFailure(startFailed(result, "its first scan"));
  if (series) series->startsAt(startedMs);
  ProgressLine progress(plan.files, plan.scans, phase);
  NoObserver noObserver;
  AcquireObserver& observer = options.observer ? *options.observer : noObserver;
  const FileTime& expected = plan.expected;
  observer.started(bench->identity(), plan.files, plan.scans,
                   expected.scanSeconds ? std::optional<double>(*expected.scanSeconds + expected.transferSeconds) : std::nullopt);
  observer.scanning(1);
  progress.print("acquiring " + (plan.files > 0 ? counted(plan.files, "file") : "files") + " of " + counted(plan.scans, "scan") +
                 (plan.files > 0 ? "" : " until Ctrl-C") +
                 (options.everySeconds ? ", one every " + numberText(*options.everySeconds) + " s," : "") + " from bench " + benchName(bench->identity()) + " (a file takes about " +
                 secondsText(expected.scanSeconds.value_or(0) + expected.transferSeconds) + ": " +
                 expectedText(expected, plan.scans) + " at " + std::to_string(options.settings.baud) + " baud)");
  Saver saver(options, output, progress, observer, series ? &*series : nullptr);
  const std::int32_t saved = Acquisition(options, plan, bench->identity(), coaddDone, phase, progress, saver, observer, startedMs).run();
  if (series) std::cout << "the series of the tracked bands: " << shownPath(series->path()) << std::endl;
  return saved;
}

}  // namespace dorvane::host
