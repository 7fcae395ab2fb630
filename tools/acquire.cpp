// The acquisition loop: wait on the co-add event (no polling of the driver), fetch, save, repeat.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <iostream>
#include <string>
#include <vector>

#include "dorvane.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"
#include "tools/acquire.h"
#include "tools/host_failure.h"
#include "tools/host_os.h"

namespace dorvane::host {
namespace {

using Clock = std::chrono::steady_clock;

// The most points a co-add holds: getData fills the rest with zeros, and getPoints tells the length.
constexpr std::int32_t kLargestCoadd = 65536;
// How often the progress line is redrawn while nothing else happens.
constexpr int kProgressTickMs = 500;

std::string numbered(const std::string& prefix, std::int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", static_cast<int>(number));
  return prefix + "-" + digits;
}

std::string filesWanted(std::int32_t files) { return files > 0 ? std::to_string(files) : "until Ctrl-C"; }

class ProgressLine {
 public:
  explicit ProgressLine(std::int32_t files) : files_(files), terminal_(stdoutIsTerminal()), started_(Clock::now()) {}

  void redraw(std::int32_t done) {
    if (!terminal_) return;
    const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    char line[160];
    std::snprintf(line, sizeof line, "\r\033[Kfile %d of %s: scans %d, %.0f s elapsed, %.2f files/min",
                  static_cast<int>(done + 1), filesWanted(files_).c_str(),
                  static_cast<int>(spectrometer_getScanProgress()), elapsed, elapsed > 0 ? done * 60.0 / elapsed : 0.0);
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
  std::int32_t files_;
  bool terminal_;
  Clock::time_point started_;
  platform::Mutex lock_;
};

// Saves on a thread of its own, so that fetching the next co-add never waits for the disk or the
// plotter: the driver keeps only the newest co-add, and a slow save would let the next replace it.
class Saver {
 public:
  Saver(OutputFolder& output, ProgressLine& progress, const SavedFileHandler& onSaved)
      : output_(output), progress_(progress), onSaved_(onSaved) {
    if (!worker_.start([this] { return work(); }, platform::ThreadPriority::normal)) {
      throw HostFailure("cannot start the thread that saves the files");
    }
  }
  ~Saver() { finish(); }

  void push(AcquiredFile file, std::string stem) {
    platform::ScopedLock hold(lock_);
    queue_.emplace_back(std::move(file), std::move(stem));
    changed_.set();
  }
  // Saves what was handed over and ends the thread. The first failure's line, or empty.
  std::string finish() {
    {
      platform::ScopedLock hold(lock_);
      closing_ = true;
      changed_.set();
    }
    worker_.join();
    return failure_;
  }
  bool failed() {
    platform::ScopedLock hold(lock_);
    return !failure_.empty();
  }
  std::int32_t saved() const { return saved_; }

 private:
  std::uint32_t work() {
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
      auto& [file, stem] = next;
      std::string more;
      try {
        file.files = output_.save(file.record, stem);
        ++saved_;
        more = onSaved_(file);
      } catch (const std::exception& failure) {
        platform::ScopedLock hold(lock_);
        failure_ = failure.what();
        return 0;
      }
      progress_.print("saved " + file.record.title + ": " + file.files.csv + more);
    }
  }

  OutputFolder& output_;
  ProgressLine& progress_;
  const SavedFileHandler& onSaved_;
  platform::Mutex lock_;
  platform::Event changed_;  // set while there is something to save, or the end to see
  std::deque<std::pair<AcquiredFile, std::string>> queue_;
  bool closing_ = false;
  std::string failure_;
  std::atomic<std::int32_t> saved_{0};
  platform::Thread worker_;
};

std::string filesSaved(std::int32_t saved) { return std::to_string(saved) + " file" + (saved == 1 ? "" : "s") + " saved"; }

}  // namespace

std::int32_t acquire(const AcquireOptions& options, const SavedFileHandler& onSaved) {
  OutputFolder output(options.folder, options.plot);
  CompletionEvent coaddDone;
  spectrometer_setCoaddCompleteEventHandle(coaddDone.handle());
  if (options.points) spectrometer_setPoints(*options.points);
  if (options.gain) spectrometer_setGain(*options.gain);
  if (options.scans) spectrometer_setScans(*options.scans);
  if (options.files) spectrometer_setFiles(*options.files);
  const std::int32_t files = spectrometer_getFiles();
  const std::string stoppedEarly = "stopped by Ctrl-C before the acquisition began; the port is closed";

  OpenBench bench;
  if (stopRequested()) throw HostFailure(stoppedEarly, kExitStopped);
  if (const std::int32_t result = spectrometer_initialize(); result != 0) {
    throw HostFailure(callFailed("spectrometer_initialize", result, result == 1 ? "the bench did not take the scan settings" : nullptr));
  }
  // Asked now: while the acquisition runs, the port is its own.
  const std::string setupText = bench.setupText();
  if (stopRequested()) throw HostFailure(stoppedEarly, kExitStopped);
  if (const std::int32_t result = spectrometer_startCoadd(); result != 0) {
    throw HostFailure(callFailed("spectrometer_startCoadd", result, "the bench did not start its first scan"));
  }

  ProgressLine progress(files);
  progress.print("acquiring " + (files > 0 ? std::to_string(files) + " file" + (files == 1 ? "" : "s") : "files until Ctrl-C") +
                 " of " + std::to_string(spectrometer_getScans()) + " scans from bench " + benchName(bench.identity()));
  Saver saver(output, progress, onSaved);
  std::int32_t seen = 0;  // files the driver reported complete and the host has dealt with
  double lastTimestamp = -1;
  std::vector<double> volts(kLargestCoadd);
  Clock::time_point lastFileAt = Clock::now();
  // Why the acquisition ended early, and the exit status; none while it runs.
  std::string ending;
  int endingStatus = kExitFailure;

  while (ending.empty() && (files <= 0 || seen < files)) {
    progress.redraw(seen);
    const CompletionEvent::Wake wake = coaddDone.wait(kProgressTickMs);
    if (wake == CompletionEvent::Wake::StopRequested) {
      ending = "stopped by Ctrl-C";
      endingStatus = kExitStopped;
      break;
    }
    if (saver.failed()) {
      ending = "saving failed";
      break;
    }
    const std::int32_t complete = spectrometer_getFileProgress();
    if (complete > seen) {
      lastFileAt = Clock::now();
      const std::int32_t points = spectrometer_getPoints();
      double timestamp = 0;
      if (spectrometer_getData(volts.data(), kLargestCoadd, &timestamp) != 0 || points <= 0 || points > kLargestCoadd) {
        ending = callFailed("spectrometer_getData", 1, "no co-add to fetch after the driver signalled one");
        break;
      }
      if (complete > seen + 1) {
        progress.print("dorvane: " + std::to_string(complete - seen - 1) + " file(s) before file " +
                       std::to_string(complete) + " were replaced by newer ones before they could be fetched");
      }
      seen = complete;
      if (timestamp == lastTimestamp) {
        // The driver counts a file whose retrieval failed, but has no new co-add for it.
        progress.print("dorvane: file " + std::to_string(seen) + " could not be retrieved from the bench; skipped");
        continue;
      }
      lastTimestamp = timestamp;
      AcquiredFile file{seen, {}, {}};
      file.record.title = "file " + std::to_string(seen) + " of " + filesWanted(files);
      file.record.volts.assign(volts.begin(), volts.begin() + points);
      file.record.timestampMs = timestamp;
      file.record.scans = spectrometer_getScans();
      file.record.gain = static_cast<std::int32_t>(spectrometer_getGain());
      file.record.benchIdentity = bench.identity();
      file.record.setupText = setupText;
      file.record.laserWavenumber = defaultLaserWavenumber();
      file.record.undersampling = options.undersampling;
      saver.push(std::move(file), numbered(options.prefix, seen));
      continue;
    }
    if (spectrometer_getStatus() != DORVANE_STATUS_ACQUIRING && spectrometer_getFileProgress() == seen) {
      ending = "the acquisition ended early: the bench did not start a scan (the driver's log tells why)";
    } else if (Clock::now() - lastFileAt > std::chrono::seconds(options.timeoutSeconds)) {
      ending = "no file from the bench in " + std::to_string(options.timeoutSeconds) + " s: it may have stopped answering";
    }
  }

  if (!ending.empty()) {
    // The acquisition ends and the port closes before the host says so.
    spectrometer_stop();
    spectrometer_close();
  }
  const std::string saveFailure = saver.finish();
  progress.finish();
  if (!saveFailure.empty()) {
    spectrometer_close();
    throw HostFailure(saveFailure + "; the acquisition is stopped and the port closed (" + filesSaved(saver.saved()) + ")");
  }
  if (!ending.empty()) {
    throw HostFailure(ending + " after " + filesSaved(saver.saved()) + "; the port is closed", endingStatus);
  }
  return saver.saved();
}

}  // namespace dorvane::host
