// The acquisition loop: wait on the co-add event, fetch, hand to the saver, repeat; a timed series
// starts each file on its schedule.
#include "host/acquisition/acquisition_loop.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <vector>

#include "host/acquisition/schedule.h"
#include "host/instrument/driver_words.h"
#include "host/instrument/session.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

// How often the progress line is redrawn while nothing else happens.
constexpr int kProgressTickMs = 250;
// After a file, the driver starts the next scan before it resets its scan count: until then a full
// count is the last file's, not a transfer of the next.
constexpr double kNextScanStartSeconds = 1.0;
// What a transfer may overrun its estimate by before Ctrl-C stops waiting for it.
constexpr double kTransferGraceSeconds = 5;

// "file 2 was replaced by a newer one before it could be fetched", "files 2 to 4 were ...".
std::string replacedText(std::int32_t first, std::int32_t count) {
  if (count == 1) return "file " + std::to_string(first) + " was replaced by a newer one before it could be fetched";
  return "files " + std::to_string(first) + (count == 2 ? " and " : " to ") + std::to_string(first + count - 1) +
         " were replaced by newer ones before they could be fetched";
}

class Acquisition {
 public:
  explicit Acquisition(const AcquisitionParts& parts)
      : parts_(parts), options_(parts.options), plan_(parts.plan), driver_(parts.driver), phase_(parts.phase),
        progress_(parts.progress), observer_(parts.observer), volts_(kLargestCoadd), fileStartedMs_(parts.startedMs) {}

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

  const AcquisitionParts parts_;
  const AcquireOptions& options_;
  const BenchPlan& plan_;
  BenchDriver& driver_;
  FilePhase& phase_;
  ProgressLine& progress_;
  AcquireObserver& observer_;
  std::vector<double> volts_;
  std::int32_t seen_ = 0;        // files the driver reported complete and the host has dealt with
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
  if (!waitUntilDue(due, seen_ + 1, phase_, progress_, observer_, parts_.coaddDone)) return false;
  if (const std::optional<std::string> slipped = slipRemark(phase_.now() - due, every, seen_ + 1)) {
    progress_.print("dorvane: " + *slipped);
    observer_.remark(*slipped);
  }
  fileStartedMs_ = wallClockMs();
  if (const std::int32_t result = driver_.startCoadd(); result != 0) {
    ending_ = startFailed(driver_, result, "file " + std::to_string(seen_ + 1));
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
  const CompletionEvent::Wake wake = parts_.coaddDone.wait(kProgressTickMs, stopping_ ? 2 : 1);
  if (wake == CompletionEvent::Wake::StopRequested) {
    if (!stopping_ && phase_.transferring && stopRequestCount() == 1) {
      stopping_ = true;
      stopBy_ = phase_.now() + phase_.transferLeft() + kTransferGraceSeconds;
      return true;
    }
    return false;
  }
  if (parts_.saver.failed()) {
    ending_ = "saving failed";
    return false;
  }
  const std::int32_t before = seen_;
  if (!collect()) return false;
  if (seen_ > before) return !stopping_;
  // The scan count is the file's once the bench is done: from then on the file is on the line.
  if (!phase_.transferring && driver_.getScanProgress() >= plan_.scans &&
      std::chrono::duration<double>(Clock::now() - lastFileAt_).count() > kNextScanStartSeconds) {
    phase_.transferStartedAt = phase_.now();
    phase_.transferring = true;
    observer_.transferring(seen_ + 1);
  }
  if (stopping_ && phase_.now() > stopBy_) return false;
  if (driver_.getStatus() != DORVANE_STATUS_ACQUIRING && driver_.getFileProgress() == driverSeen_) {
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
  const std::int32_t complete = driver_.getFileProgress();
  if (complete <= driverSeen_) return true;
  lastFileAt_ = Clock::now();
  fileStartedAt_ = phase_.now();
  const double startedMs = fileStartedMs_;
  // Back to back, the bench begins the next file as soon as this one is done.
  fileStartedMs_ = wallClockMs();
  phase_.transferring = false;
  const std::int32_t count = driver_.getPoints();
  double timestamp = 0;
  // The driver counts a file whose retrieval failed, with no co-add for it: the bench went silent
  // or its port went away mid-transfer.
  const std::string lostFile = "during file " + std::to_string(seen_ + complete - driverSeen_) + "'s transfer";
  if (driver_.getData(volts_.data(), kLargestCoadd, &timestamp) != 0 || count <= 0 || count > kLargestCoadd) {
    ending_ = benchLost(options_.settings, lostFile);
    return false;
  }
  if (const std::int32_t replaced = complete - driverSeen_ - 1; replaced > 0) tell(replacedText(seen_ + 1, replaced));
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
  parts_.saver.push(std::move(file), numbered(options_.prefix, seen_));
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
  record.gain = static_cast<std::int32_t>(driver_.getGain());
  record.benchIdentity = parts_.benchIdentity;
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
    driver_.stop();
    // A file the driver finished while the stop was on its way is the user's too.
    collect();
    endingStatus_ = stopCause().exitStatus;
  }
  if (!ending_.empty() || stopped) driver_.close();
  const std::string saveFailure = parts_.saver.finish(!stopped && ending_.empty());
  progress_.finish();
  if (const std::string left = parts_.saver.picturesLeft(); !left.empty()) std::cout << left << std::endl;
  std::string failure;
  if (!saveFailure.empty()) {
    driver_.close();
    failure = saveFailure + "; the acquisition is stopped and the port closed (" + counted(parts_.saver.saved(), "file") + " saved)";
  } else if (stopped && ending_.empty()) {
    // The folder comes with the first file: a stop before it has nothing to point to.
    failure = "stopped after " + counted(parts_.saver.saved(), "file") + " (" + stopCause().what + ")" +
              (parts_.saver.saved() > 0 ? ", saved in " + shownPath(options_.folder) : "") + "; the port is closed";
  } else if (!ending_.empty()) {
    failure = ending_ + " after " + counted(parts_.saver.saved(), "file") + " saved; the port is closed";
  }
  observer_.ended(failure, stopped && saveFailure.empty());
  if (!failure.empty()) throw HostFailure(failure, saveFailure.empty() ? endingStatus_ : kExitFailure);
  return parts_.saver.saved();
}

}  // namespace

std::string numbered(const std::string& prefix, std::int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", static_cast<int>(number));
  return prefix + "-" + digits;
}

// spectrometer_startCoadd's 1 is either the driver's refusal, while an acquisition of its own still
// runs (the status then says so), or the bench's failure to start a scan.
std::string startFailed(BenchDriver& driver, std::int32_t result, const std::string& what) {
  if (driver.getStatus() == DORVANE_STATUS_ACQUIRING) {
    return callFailed("spectrometer_startCoadd", result,
                      ("the driver refused to start " + what +
                       ": its previous acquisition still holds the port (the driver's log tells more)")
                          .c_str());
  }
  return callFailed("spectrometer_startCoadd", result, ("the bench did not start " + what).c_str());
}

std::int32_t runAcquisition(const AcquisitionParts& parts) { return Acquisition(parts).run(); }

}  // namespace dorvane::host
