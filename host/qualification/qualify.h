// dorvane qualify: a performance qualification of the bench, or of interferograms given as files,
// written as a report folder a lab can file, and a row of the bench's qualification history.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/acquisition/acquire.h"

namespace dorvane::host::qualification {

// Exit statuses: every test passed, a test failed; the qualification could not run (kExitUsage, 2,
// for what the user gave; kCouldNotQualify for the rest, e.g. a bench that stopped answering).
inline constexpr int kQualified = 0;
inline constexpr int kNotQualified = 1;
inline constexpr int kCouldNotQualify = 3;

// Told of the qualification's course, e.g. by the live view. Called on the qualifying thread.
class QualificationObserver {
 public:
  virtual ~QualificationObserver() = default;
  // The observer of the acquisition whose files are the run's `offset` + 1 onwards; may be null.
  virtual AcquireObserver* acquisition(std::int32_t offset) = 0;
  virtual void files(std::int32_t count) = 0;  // the run takes this many files
  virtual void step(const std::string& step) = 0;
  // The film's spectra are made against this background (its saved file at `path`).
  virtual void background(const InterferogramRecord& record, const std::string& path) = 0;
  virtual void verdict(const std::string& test, bool passed, const std::string& detail) = 0;
  virtual void qualified(bool passed, const std::string& report) = 0;
};

struct QualifyOptions {
  std::string ini = "dorvane.ini";
  std::string folder = ".";  // where each run's folder and the history go
  std::string settings;      // the limits' file; empty: the defaults
  std::optional<std::int32_t> points, scans, samples;  // over the settings
  std::string reference;     // an earlier run's folder; empty: the history's first run of the bench
  bool newReference = false; // this run is its own reference
  // Instead of the bench: two backgrounds and the samples, as interferogram files.
  std::vector<std::string> backgroundFiles, sampleFiles;
  std::string from;          // remake the report of this run's folder from its raw files
  QualificationObserver* observer = nullptr;
};

// Runs it, prints each failure on its line and the verdict, and returns the exit status. Throws
// HostFailure (status 2 and up) when the qualification could not run.
int qualify(const QualifyOptions& options);

}  // namespace dorvane::host::qualification
