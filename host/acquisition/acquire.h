// dorvane acquire: a co-added acquisition on the driver's thread, each file fetched when the driver
// signals it and saved at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/acquisition/session.h"

namespace dorvane::host {

// Told of the acquisition's course as it goes, e.g. by the live view; called on the acquiring
// thread (the saved files come through the SavedFileHandler, on the saving thread). Must not block.
class AcquireObserver {
 public:
  virtual ~AcquireObserver() = default;
  // The bench is set up and scanning: `fileSeconds` is what a file is expected to take, or none
  // when the bench's setup gives no scan time.
  virtual void started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
                       std::optional<double> fileSeconds) = 0;
  virtual void scanning(std::int32_t number) = 0;      // the bench co-adds file `number`
  virtual void transferring(std::int32_t number) = 0;  // file `number` is on the line
  // A problem the acquisition goes on after, in words (a file that could not be retrieved).
  virtual void notice(const std::string& line) = 0;
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
  AcquireObserver* observer = nullptr;
};

struct AcquiredFile {
  std::int32_t number;  // 1 for the acquisition's first file
  InterferogramRecord record;
  SavedFiles files;
};

// Runs the acquisition with the settings already loaded, reporting progress on stdout (a progress
// line with the phase on a terminal, a line per file otherwise) and handing each saved file to
// `onSaved` on the thread that saves them; what it returns (e.g. "; spectrum x.csv") ends the file's
// "saved" line, and a HostFailure it throws stops the acquisition as a failed save does. Returns the
// number of files saved. Ctrl-C while the bench transfers a file lets that file arrive first (a
// second Ctrl-C stops at once). Throws HostFailure (a stop request: its exit status) with the port
// closed and every file fetched so far complete on the disk.
using SavedFileHandler = std::function<std::string(const AcquiredFile&)>;
std::int32_t acquire(const AcquireOptions& options, const SavedFileHandler& onSaved);

// The time the bench's line takes to carry `points` points of `bytesPerPoint` bytes at `baud`: ten
// bits a byte and the packets' own bytes.
double transferSeconds(std::int64_t points, int bytesPerPoint, std::int32_t baud);

}  // namespace dorvane::host
