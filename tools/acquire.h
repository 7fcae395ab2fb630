// dorvane acquire: a co-added acquisition on the driver's thread, each file fetched when the driver
// signals it and saved at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tools/session.h"

namespace dorvane::host {

struct AcquireOptions {
  // Unset: the settings file's value (points, gain) or the driver's (scans 1, files 1).
  std::optional<std::int32_t> points, scans, files;
  std::optional<double> gain;
  std::string folder = ".";
  std::string prefix;  // file names are <prefix>-001.csv and so on
  bool plot = true;
  int timeoutSeconds = 300;  // the longest wait for the next file before the bench is given up
  std::int32_t undersampling = 2;  // r, for the files (undersamplingInSettings)
};

struct AcquiredFile {
  std::int32_t number;  // 1 for the acquisition's first file
  InterferogramRecord record;
  SavedFiles files;
};

// Runs the acquisition with the settings already loaded, reporting progress on `progress` (a
// progress line on a terminal, a line per file otherwise) and handing each saved file to `onSaved`
// on the thread that saves them; what it returns (e.g. "; spectrum x.csv") ends the file's "saved"
// line, and a HostFailure it throws stops the acquisition as a failed save does. Returns the number
// of files saved. Throws HostFailure (Ctrl-C: exit status kExitStopped) with the port closed and
// every file saved so far complete on the disk.
using SavedFileHandler = std::function<std::string(const AcquiredFile&)>;
std::int32_t acquire(const AcquireOptions& options, const SavedFileHandler& onSaved);

}  // namespace dorvane::host
