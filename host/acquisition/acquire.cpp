// dorvane acquire's course: the checks before the bench is touched, the bench set up, the first
// scan started, then the loop (acquisition_loop.h) with the saver (saver.h) until the end.
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "dorvane.h"
#include "host/acquisition/acquire.h"
#include "host/instrument/session.h"
#include "host/acquisition/acquisition_loop.h"
#include "host/acquisition/progress_line.h"
#include "host/acquisition/saver.h"
#include "host/acquisition/timing.h"
#include "host/files/file_text.h"
#include "host/instrument/driver_words.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

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

// Hands the settings to the driver, opens the bench and sets it up; the port stays open in `bench`.
BenchPlan setUpBench(const AcquireOptions& options, BenchDriver& driver, std::int32_t points, CompletionEvent& coaddDone,
                     std::optional<OpenBench>& bench) {
  driver.setCoaddCompleteEvent(coaddDone.handle());
  driver.setPoints(points);
  if (options.gain) driver.setGain(*options.gain);
  if (options.scans) driver.setScans(*options.scans);
  if (options.files) driver.setFiles(*options.files);
  BenchPlan plan;
  plan.files = driver.getFiles();
  plan.scans = driver.getScans();
  // A timed series starts each file on its own: the driver acquires one at a time.
  if (options.everySeconds) driver.setFiles(1);

  bench.emplace(options.settings, driver);
  if (stopRequested()) throw stoppedBy(" before the acquisition began; the port is closed");
  if (const std::int32_t result = driver.initialize(); result != 0) {
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

}  // namespace

std::int32_t acquire(const AcquireOptions& options) {
  const std::int32_t points = checkedPoints(options);
  OutputFolder output(options.folder, options.plot, options.overwrite ? Existing::Replace : Existing::Keep);
  // An earlier run's files under the same names are found before the first scan, not at the save.
  if (const std::string taken = output.inTheWay(numbered(options.prefix, 1)); !taken.empty()) {
    throw HostFailure(taken + "; or choose another --prefix");
  }
  std::optional<SeriesAppender> series;
  if (!options.tracks.empty()) {
    if (!options.spectra) throw std::logic_error("tracked bands need the spectra made");
    series.emplace(options, output);
    if (const std::string taken = series->inTheWay(); !taken.empty()) throw HostFailure(taken + "; or choose another --prefix");
  }
  BenchDriver& driver = options.driver ? *options.driver : exportsDriver();
  CompletionEvent coaddDone;
  std::optional<OpenBench> bench;
  const BenchPlan plan = setUpBench(options, driver, points, coaddDone, bench);

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
  if (const std::int32_t result = driver.startCoadd(); result != 0) {
    throw HostFailure(startFailed(driver, result, "its first scan"));
  }
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
  const std::int32_t saved = runAcquisition(
      {options, driver, plan, bench->identity(), coaddDone, phase, progress, saver, observer, startedMs});
  if (series) std::cout << "the series of the tracked bands: " << shownPath(series->path()) << std::endl;
  return saved;
}

}  // namespace dorvane::host
