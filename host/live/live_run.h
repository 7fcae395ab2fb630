// The run as the live view shows it: what the acquisition (or `dorvane view`) tells it, kept under
// a lock and pushed to the pages through the server as it changes. A saved file's data for the pages
// is built from what the acquisition holds as the file is saved, and kept for the newest files; an
// older one, and every file of `dorvane view`, is read back from its saved file when a page asks (on
// the server's file worker), so the run holds only names however long it lasts.
//
// The JSON the pages get (numbers are plain JSON numbers; absent values are null):
//   state: {"mode": "acquire" | "view", "bench": "bench family 9 model 60" | "",
//           "files": n (0: until Ctrl-C), "done": files saved, "scans": per file,
//           "phase": "starting" | "scanning" | "transferring" | "waiting" (a timed series, for the
//                    next file's time) | "finished" | "failed" | "stopped" | "viewing",
//           "file": the number of the file under way or null,
//           "elapsed": seconds since the run began, at the moment of sending,
//           "fileSeconds": what a file is expected to take or null,
//           "remaining": the estimate of the rest in seconds or null (none for a run until Ctrl-C),
//           "error": "" or the last problem in words (a failure, or a file lost on the way),
//           "remarks": [{"seconds": elapsed when said, "text": "the schedule slipped: ..."}, ...] (the
//                      newest few words on the run's course that are no problem, oldest first),
//           "folder": where the files go,
//           "spectrum": "single beam" | "absorbance" | "transmittance", "background": its file name or "",
//           "backgrounds": [the numbers of the run's files that are its background (the demo's first)]}
//          "files", "done" and "file" count every file of the run, its backgrounds too: the pages
//          count them apart, as the terminal counts an acquisition's own files.
//   file:  {"number": k (1 for the first), "name": "run-001", "time": "2026-12-07T10:53:26.208Z",
//           "saved": ["run-001.csv", "run-001.jdx", "run-001.png", ...]}
//   row:   {"number": k, "name": "run-001", "seconds": since the first file began,
//           "area": [a band's area, ...], "height": [...], "position": [cm-1, ...]} (null: none)
//   trend: {"kind": "absorbance" | ..., "bands": [{"name": "CO2", "low": 2250, "high": 2450}, ...],
//           "rows": [row, ...]} (no bands: none tracked)
//   qualification: null for a run that is no qualification (until its first step is told), else
//          {"step": "background 1 of 2 (the film out of the beam)" (the newest step told),
//           "tests": [{"name": "wavenumber accuracy", "passed": true | false,
//                      "detail": "7 of 7 bands within tolerance"}, ...] (in the order decided),
//           "verdict": null (not yet decided) | "pass" | "fail",
//           "report": null | the report's path (once the verdict is known, when one was written)}
//   /run.json and the event "run": {"state": state, "files": [file, ...], "trend": trend,
//                                   "qualification": qualification}
//   events "state" (state), "file" (file), "row" (row), "trend" (trend: the bands are tracked
//          or their spectrum's kind changes, e.g. the demo's, known only after its background) and
//          "qualification" (qualification, whole: a step, a test's verdict or the end) as they change
//   /files/K.json: {"number": k, "name": ..., "points": all of the interferogram's points,
//           "interferogram": {"x": [point index...], "y": [volts...]} (at most 4096 points: a min/max
//                            pair for each stretch when there are more),
//           "zoom": {"x": [...], "y": [...]} (every point within 256 of the centre burst),
//           "spectrum": {"kind": "single beam" | ..., "x": [cm-1...], "y": [...]} (at most 4096 points)
//                       or null, "spectrumError": "" or why there is none}
#pragma once

#include <cstdint>
#include <deque>
#include <nlohmann/json_fwd.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "host/acquisition/acquire.h"
#include "host/live/live_server.h"
#include "host/analysis/processing.h"
#include "host/files/series_file.h"

namespace dorvane::host::live {

class LiveRun final : public LiveContent, public AcquireObserver {
 public:
  enum class Mode { Acquire, View };
  // Where the run is; the pages get its name (phaseName).
  enum class Phase { Starting, Scanning, Transferring, Waiting, Finished, Failed, Stopped, Viewing };
  static const char* phaseName(Phase phase);
  // `processing` makes the spectra the pages show, as acquire --spectrum does. Throws HostFailure
  // for options the spectra library refuses.
  LiveRun(Mode mode, const std::string& folder, const ProcessingOptions& processing);

  // The server to publish each change to; none: changes are only kept.
  void attach(LiveServer* server);
  // The bands the run follows: the acquisition's rows (AcquiredFile::row), or for `dorvane view`
  // measured here as files are listed. Pages open already are told them.
  void track(std::vector<TrackedBand> bands);
  // Files saved from now on are shown against this interferogram (absorbance or transmittance, as
  // `processing` says); a file of the run saved at NAME is counted as its background. Throws
  // HostFailure: "the background NAME: what is wrong".
  void setBackground(const InterferogramRecord& background, const std::string& name);
  // The same with the maker the acquisition makes its spectra with, its background set already:
  // a file that comes without its spectrum is shown with this one.
  void setBackground(std::shared_ptr<const SpectrumMaker> ratioed, const std::string& name);

  // The acquisition's course (AcquireObserver). A second `started` (the demo acquires twice) keeps
  // the run's start and its count of files.
  void started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
               std::optional<double> fileSeconds) override;
  void scanning(std::int32_t number) override;
  void transferring(std::int32_t number) override;
  void waiting(std::int32_t number, double seconds) override;
  void notice(const std::string& line) override;
  void remark(const std::string& line) override;
  void saved(const std::shared_ptr<const AcquiredFile>& file) override;  // shown as file `file->number`
  void drawn(std::int32_t number, const std::vector<std::string>& pictures) override;
  // The end: `failure` empty when the run went as asked; `stopped` for a stop the user asked for.
  void ended(const std::string& failure, bool stopped) override;
  // The files the run will have, when its acquisitions are told fewer (the demo's two).
  void expectFiles(std::int32_t files);

  // A saved file shown as file `number` of the run (the demo numbers its acquisitions' files).
  void show(std::int32_t number, const AcquiredFile& file);
  // `dorvane view`: a file found saved, its interferogram at `interferogramPath` (read back when a
  // page asks, or `record` as read, which the run measures the tracked bands of), and every file
  // of its set.
  void listed(std::int32_t number, const std::string& time, const std::string& interferogramPath,
              const std::vector<std::string>& savedPaths, const InterferogramRecord* record = nullptr);
  // `dorvane view`: the bench named by the files, and the phase "viewing".
  void viewing(std::int32_t benchIdentity);

  // A qualification's course, from the thread that runs it: the run becomes one at its first step.
  // A new step ("sample 3 of 5 (the film in the beam)", "computing the tests") in the user's words.
  void qualifying(const std::string& step);
  // A test's verdict as it is known, `detail` the figure that decided it in words; a test told
  // again (by its name) is replaced in its place.
  void verdict(const std::string& test, bool passed, const std::string& detail);
  // The whole verdict; `report` the report's path, or empty when none was written. A qualification
  // that could not run ends without one: `ended` with its failure says why.
  void qualified(bool passed, const std::string& report);

  std::string runJson() override;
  std::optional<std::string> heldFileJson(std::int32_t number) override;
  // Reads an older file (or any of `dorvane view`) back from the disk: the server's file worker
  // calls it, never its I/O thread.
  std::optional<std::string> fileJson(std::int32_t number) override;

 private:
  struct File {
    std::int32_t number = 0;
    std::string name, time, path;
    std::vector<std::string> saved;  // file names, without their folder
    bool againstBackground = false;
    bool isBackground = false;
  };
  struct Remark {
    double seconds;  // since the run began
    std::string text;
  };
  struct TestVerdict {
    std::string name;
    bool passed = false;
    std::string detail;
  };
  struct Qualification {
    std::string step;
    std::vector<TestVerdict> tests;
    std::optional<bool> passed;  // the whole verdict, once known
    std::string report;          // empty: none
  };
  // What the pages are told, as JSON values (under the lock).
  nlohmann::ordered_json stateLocked() const;
  nlohmann::ordered_json trendLocked() const;
  nlohmann::ordered_json qualificationLocked() const;
  // Changes the qualification (begun by this change if need be) and tells the pages.
  template <typename Change>
  void changeQualification(Change change);
  static nlohmann::ordered_json fileEntry(const File& file);
  void publishTrend();
  void add(File file, std::optional<std::string> data, std::optional<SeriesRow> row = std::nullopt);
  // The three steps of a file under way: scanning, waiting for its time, transferring.
  void underWay(Phase phase, std::int32_t number);
  File* savedLocked(std::int32_t number);  // under the lock; null when the run has no such file
  void keepData(std::int32_t number, std::string data);  // under the lock
  void publishState();

  const Mode mode_;
  const std::string folder_;
  const ProcessingOptions processing_;
  const SpectrumMaker singleBeam_;
  std::shared_ptr<const SpectrumMaker> ratioed_;  // from setBackground on

  mutable platform::Mutex lock_;
  LiveServer* server_ = nullptr;
  std::string bench_;
  std::int32_t files_ = 0, scans_ = 0;
  bool filesFixed_ = false;
  std::optional<double> fileSeconds_;
  Phase phase_ = Phase::Starting;
  std::optional<std::int32_t> underWay_;
  std::string error_;
  std::deque<Remark> remarks_;  // the newest few
  std::string backgroundName_;
  std::string backgroundPath_;  // as `samePlace` compares it
  std::optional<double> startedAt_;  // seconds on the steady clock
  std::optional<double> endedAt_;    // the same: the run's elapsed time stops there
  double lastSavedAt_ = 0;
  std::vector<File> saved_;
  // The newest files' data as sent.
  std::deque<std::pair<std::int32_t, std::string>> held_;
  std::vector<TrackedBand> bands_;
  std::vector<std::pair<std::int32_t, SeriesRow>> rows_;  // the file's number, its row
  double firstFileMs_ = 0;         // `dorvane view`: the time its rows count from
  std::optional<Qualification> qualification_;  // none: the run is no qualification
};

}  // namespace dorvane::host::live
