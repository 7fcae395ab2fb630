// dorvane acquire: a co-added acquisition on the driver's thread, each file fetched when the driver
// signals it, its data saved at once and its pictures drawn when the plotter can.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/acquisition/acquired_file.h"
#include "host/analysis/processing.h"
#include "host/files/output_folder.h"
#include "host/files/series_file.h"
#include "host/instrument/bench_driver.h"
#include "host/instrument/settings_file.h"

namespace dorvane::host {

// Told of the acquisition's course as it goes, e.g. by the live view. Each step is called on the
// thread that takes it: the acquiring thread, the saving thread (saved) or the picture thread
// (drawn). Must not block.
class AcquireObserver {
 public:
  virtual ~AcquireObserver() = default;
  // The bench is set up and scanning: `fileSeconds` is what a file is expected to take, or none
  // when the bench's setup gives no scan time.
  virtual void started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
                       std::optional<double> fileSeconds) = 0;
  virtual void scanning(std::int32_t number) = 0;      // the bench co-adds file `number`
  // A timed series waits `seconds` for file `number`'s time to start it.
  virtual void waiting(std::int32_t number, double seconds) = 0;
  virtual void transferring(std::int32_t number) = 0;  // file `number` is on the line
  // The file's data files are written (and its spectrum made, when the acquisition makes them).
  virtual void saved(const std::shared_ptr<const AcquiredFile>& file) = 0;
  // The pictures of file `number` are drawn.
  virtual void drawn(std::int32_t number, const std::vector<std::string>& pictures) = 0;
  // A problem the acquisition goes on after, in words (a file that could not be retrieved).
  virtual void notice(const std::string& line) = 0;
  // A word on the run's course that is no problem (a timed series' file that starts late): the
  // run goes as asked.
  virtual void remark(const std::string& line) = 0;
  // The end: `failure` empty when the acquisition went as asked; `stopped` for a stop the user asked for.
  virtual void ended(const std::string& failure, bool stopped) = 0;
};

struct AcquireOptions {
  // Unset: the settings file's value (points, gain) or the driver's (scans 1, files 1).
  std::optional<std::int32_t> points, scans, files, gain;
  std::string folder = ".";
  std::string prefix;  // file names are <prefix>-001.csv and so on
  bool plot = true;
  bool overwrite = false;  // replace file sets of the same names; otherwise refuse before the first scan
  // The longest wait for the next file before the bench is given up; none: twice the time a file is
  // expected to take (expectedFileSeconds) and 30 s more, at least 60 s.
  std::optional<int> timeoutSeconds;
  CheckedSettings settings;  // the settings file as loadSettings handed it to the driver
  RecordNotes notes;         // sample, operator and comment, written into every file
  // Makes each file's spectrum on the saving thread; with `saveSpectra` it is saved beside its
  // interferogram (a failure to make it then stops the acquisition as a failed save does).
  std::shared_ptr<const SpectrumMaker> spectra;
  bool saveSpectra = false;
  // A file starts every this many seconds, the first at once; one that takes longer makes the next
  // start at once, with a notice of the slip. None: files follow each other as the bench makes them.
  std::optional<double> everySeconds;
  // Bands measured in each file's spectrum (`spectra` makes them), a row a file in the table
  // <prefix>-series.csv, each row committed to the disk as it is written.
  std::vector<TrackedBand> tracks;
  AcquireObserver* observer = nullptr;
  // The driver the acquisition calls; none: the library's exports (tests give a scripted one).
  BenchDriver* driver = nullptr;
};

// Runs the acquisition with the settings already loaded, reporting progress on stdout (a progress
// line with the phase on a terminal, a line per file otherwise). Each fetched file's data files
// are written at once; its pictures are drawn on a thread of their own, which draws the newest file
// and passes over those overtaken when files come faster than pictures (a line at the end says how
// to draw the rest). Returns the number of files saved. Ctrl-C while the bench transfers a file
// lets that file arrive first (a second Ctrl-C stops at once); a stop waits only for the picture
// being drawn. Throws HostFailure (a stop request: its exit status) with the port closed and every
// file fetched so far complete on the disk.
std::int32_t acquire(const AcquireOptions& options);

// The time the bench's line takes to carry `points` points of `bytesPerPoint` bytes at `baud`: ten
// bits a byte and the packets' own bytes.
double transferSeconds(std::int64_t points, int bytesPerPoint, std::int32_t baud);

}  // namespace dorvane::host
