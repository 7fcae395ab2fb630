// The acquisition loop: wait on the co-add event (no polling of the driver), fetch, save, repeat.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "dorvane.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"
#include "host/acquisition/acquire.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"
#include "host/acquisition/driver_words.h"

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

int defaultTimeoutSeconds(const FileTime& expected, std::int32_t scans) {
  const double file = expected.scanSeconds.value_or(kAssumedScanSeconds * scans) + expected.transferSeconds;
  return static_cast<int>(std::ceil(std::max(kLeastTimeoutSeconds, 2 * file + kTimeoutMarginSeconds)));
}

std::string expectedText(const FileTime& expected, std::int32_t scans) {
  std::string text = counted(scans, "scan");
  if (expected.scanSeconds) text += " in about " + secondsText(*expected.scanSeconds);
  return text + " and " + secondsText(expected.transferSeconds) + " of transfer";
}

}  // namespace

double transferSeconds(std::int64_t points, int bytesPerPoint, std::int32_t baud) {
  // Each packet of up to 240 bytes adds its header, its checksum and the driver's answer.
  constexpr double kPacketShare = 1.03;
  constexpr double kBitsPerByte = 10;
  if (baud <= 0 || points <= 0) return 0;
  return static_cast<double>(points) * bytesPerPoint * kBitsPerByte * kPacketShare / baud;
}

std::int32_t acquire(const AcquireOptions& options, const SavedFileHandler& onSaved) {
  const std::string settingsName = shownPath(options.settings.path);
  const std::optional<std::int32_t> points = options.points ? options.points : options.settings.points;
  if (!points) {
    throw HostFailure(settingsName + ": no points= in [Settings] and no --points: give the points per scan, 1 to " +
                      std::to_string(kLargestPointsRequest));
  }
  if (*points > kLargestPointsRequest) throw HostFailure(tooManyPoints("--points " + std::to_string(*points)), kExitUsage);
  OutputFolder output(options.folder, options.plot, options.overwrite ? Existing::Replace : Existing::Keep);
  // An earlier run's files under the same names are found before the first scan, not at the save.
  if (const std::string taken = output.inTheWay(numbered(options.prefix, 1)); !taken.empty()) {
    throw HostFailure(taken + "; or choose another --prefix");
  }
  CompletionEvent coaddDone;
  spectrometer_setCoaddCompleteEventHandle(coaddDone.handle());
  spectrometer_setPoints(*points);
  if (options.gain) spectrometer_setGain(*options.gain);
  if (options.scans) spectrometer_setScans(*options.scans);
  if (options.files) spectrometer_setFiles(*options.files);
  const std::int32_t files = spectrometer_getFiles();
  const std::int32_t scans = spectrometer_getScans();

  OpenBench bench(options.settings);
  if (stopRequested()) throw stoppedBy(" before the acquisition began; the port is closed");
  if (const std::int32_t result = spectrometer_initialize(); result != 0) {
    throw HostFailure(callFailed("spectrometer_initialize", result, result == 1 ? "the bench did not take the scan settings" : nullptr));
  }
  // Asked now: while the acquisition runs, the port is its own.
  const std::string setupText = bench.setupText();
  FileTime expected;
  if (const std::optional<std::int64_t> scanMs = setupValue(setupText, "scanTime"); scanMs && *scanMs > 0) {
    expected.scanSeconds = static_cast<double>(*scanMs) * scans / 1000;
  }
  expected.transferSeconds = transferSeconds(*points + kBenchAddedPoints, bytesPerPoint(scans), options.settings.baud);
  const int timeoutSeconds = options.timeoutSeconds.value_or(defaultTimeoutSeconds(expected, scans));
  if (options.timeoutSeconds && expected.scanSeconds && *options.timeoutSeconds < *expected.scanSeconds + expected.transferSeconds) {
    std::cerr << "dorvane: --timeout " << *options.timeoutSeconds << " s is shorter than a file is expected to take ("
              << expectedText(expected, scans) << ")" << std::endl;
  }
  if (stopRequested()) throw stoppedBy(" before the acquisition began; the port is closed");

  FilePhase phase;
  phase.transferSeconds = expected.transferSeconds;
  // Ctrl-C while the bench sends a file lets the file arrive; shown at once, whatever the loop does.
  setStopNotice([&phase](int count) -> std::string {
    if (count > 1 || !phase.transferring) return "stopping…";
    return "stopping after the current transfer, about " + secondsText(phase.transferLeft()) +
           " more (Ctrl-C again stops at once and loses this file)";
  });
  struct NoticeReset {
    ~NoticeReset() { setStopNotice({}); }
  } noticeReset;

  if (const std::int32_t result = spectrometer_startCoadd(); result != 0) {
    throw HostFailure(callFailed("spectrometer_startCoadd", result, "the bench did not start its first scan"));
  }
  ProgressLine progress(files, scans, phase);
  // The observer hears what the progress line shows.
  struct NoObserver final : AcquireObserver {
    void started(std::int32_t, std::int32_t, std::int32_t, std::optional<double>) override {}
    void scanning(std::int32_t) override {}
    void transferring(std::int32_t) override {}
    void notice(const std::string&) override {}
  } noObserver;
  AcquireObserver& observer = options.observer ? *options.observer : noObserver;
  observer.started(bench.identity(), files, scans,
                   expected.scanSeconds ? std::optional<double>(*expected.scanSeconds + expected.transferSeconds) : std::nullopt);
  observer.scanning(1);
  progress.print("acquiring " + (files > 0 ? counted(files, "file") : "files") + " of " + counted(scans, "scan") +
                 (files > 0 ? "" : " until Ctrl-C") + " from bench " + benchName(bench.identity()) + " (a file takes about " +
                 secondsText(expected.scanSeconds.value_or(0) + expected.transferSeconds) + ": " +
                 expectedText(expected, scans) + " at " + std::to_string(options.settings.baud) + " baud)");
  Saver saver(output, progress, onSaved);
  std::int32_t seen = 0;  // files the driver reported complete and the host has dealt with
  double lastTimestamp = -1;
  std::vector<double> volts(kLargestCoadd);
  Clock::time_point lastFileAt = Clock::now();
  double fileStartedAt = phase.now();
  // Why the acquisition ended early, and the exit status; none while it runs.
  std::string ending;
  int endingStatus = kExitFailure;
  bool stopping = false;  // a stop was asked for while a file was on its way: take it first
  double stopBy = 0;

  // Fetches the newest co-add if the driver counts one more than the host has; false when it failed.
  const auto collect = [&]() -> bool {
    const std::int32_t complete = spectrometer_getFileProgress();
    if (complete <= seen) return true;
    lastFileAt = Clock::now();
    fileStartedAt = phase.now();
    phase.transferring = false;
    const std::int32_t count = spectrometer_getPoints();
    double timestamp = 0;
    if (spectrometer_getData(volts.data(), kLargestCoadd, &timestamp) != 0 || count <= 0 || count > kLargestCoadd) {
      ending = callFailed("spectrometer_getData", 1, "no co-add to fetch after the driver signalled one");
      return false;
    }
    const auto tell = [&](const std::string& line) {
      progress.print("dorvane: " + line);
      observer.notice(line);
    };
    if (complete > seen + 1) {
      tell(counted(complete - seen - 1, "file") + " before file " + std::to_string(complete) +
           " were replaced by newer ones before they could be fetched");
    }
    seen = complete;
    if (files <= 0 || seen < files) observer.scanning(seen + 1);
    if (timestamp == lastTimestamp) {
      // The driver counts a file whose retrieval failed, but has no new co-add for it.
      tell("file " + std::to_string(seen) + " could not be retrieved from the bench; skipped");
      return true;
    }
    lastTimestamp = timestamp;
    AcquiredFile file{seen, {}, {}};
    file.record.title = fileTitle(seen, files);
    file.record.volts.assign(volts.begin(), volts.begin() + count);
    file.record.timestampMs = timestamp;
    file.record.scans = scans;
    file.record.gain = static_cast<std::int32_t>(spectrometer_getGain());
    file.record.benchIdentity = bench.identity();
    file.record.setupText = setupText;
    file.record.laserWavenumber = defaultLaserWavenumber();
    file.record.undersampling = undersamplingOf(options.settings.lasersamp);
    applyNotes(file.record, options.notes);
    saver.push(std::move(file), numbered(options.prefix, seen));
    return true;
  };

  while (ending.empty() && (files <= 0 || seen < files)) {
    progress.redraw(seen, fileStartedAt, expected);
    const CompletionEvent::Wake wake = coaddDone.wait(kProgressTickMs, stopping ? 2 : 1);
    if (wake == CompletionEvent::Wake::StopRequested) {
      if (!stopping && phase.transferring && stopRequestCount() == 1) {
        stopping = true;
        stopBy = phase.now() + phase.transferLeft() + kTransferGraceSeconds;
        continue;
      }
      break;
    }
    if (saver.failed()) {
      ending = "saving failed";
      break;
    }
    const std::int32_t before = seen;
    if (!collect()) break;
    if (seen > before) {
      if (stopping) break;
      continue;
    }
    // The scan count is the file's once the bench is done: from then on the file is on the line.
    if (!phase.transferring && spectrometer_getScanProgress() >= scans &&
        std::chrono::duration<double>(Clock::now() - lastFileAt).count() > kNextScanStartSeconds) {
      phase.transferStartedAt = phase.now();
      phase.transferring = true;
      observer.transferring(seen + 1);
    }
    if (stopping && phase.now() > stopBy) break;
    if (spectrometer_getStatus() != DORVANE_STATUS_ACQUIRING && spectrometer_getFileProgress() == seen) {
      ending = "the acquisition ended early: the bench did not start a scan (the driver's log tells why)";
    } else if (Clock::now() - lastFileAt > std::chrono::seconds(timeoutSeconds)) {
      ending = "no file from the bench in " + std::to_string(timeoutSeconds) +
               " s: it may have stopped answering (--timeout sets the wait)";
    }
  }

  const bool stopped = stopRequested() && ending.empty() && (files <= 0 || seen < files);
  if (stopped) {
    spectrometer_stop();
    // A file the driver finished while the stop was on its way is the user's too.
    collect();
    endingStatus = stopCause().exitStatus;
  }
  if (!ending.empty() || stopped) spectrometer_close();
  const std::string saveFailure = saver.finish();
  progress.finish();
  if (!saveFailure.empty()) {
    spectrometer_close();
    throw HostFailure(saveFailure + "; the acquisition is stopped and the port closed (" + counted(saver.saved(), "file") + " saved)");
  }
  if (stopped && ending.empty()) {
    throw HostFailure("stopped after " + counted(saver.saved(), "file") + " (" + stopCause().what + "), saved in " +
                          shownPath(options.folder) + "; the port is closed",
                      endingStatus);
  }
  if (!ending.empty()) {
    throw HostFailure(ending + " after " + counted(saver.saved(), "file") + " saved; the port is closed", endingStatus);
  }
  return saver.saved();
}

}  // namespace dorvane::host
