// A qualification's report: the figures made from a run's raw files as saved, then qualification.json,
// qualification.html and the spectra used beside them, and a row of the bench's history.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/files/qualification_history.h"
#include "host/qualification/figures.h"
#include "host/qualification/qualification_settings.h"
#include "host/qualification/qualify.h"

namespace dorvane::host::qualification {

inline constexpr const char* kReportName = "qualification.json";
inline constexpr const char* kPageName = "qualification.html";
inline constexpr const char* kReportFormat = "dorvane qualification 1";

// A report's text as JSON. Throws HostFailure (usage) naming `path` for text that is not a report of
// this format.
nlohmann::ordered_json parseReport(const std::string& text, const std::string& path);

struct ReportRun {
  std::string folder;  // where the report goes
  QualificationSettings settings;
  std::optional<Reference> reference;
  std::optional<QualificationHistory> history;  // the runs before this one
  std::string historyPath;
  std::string rawFolder;  // where the raw files are; empty: `folder`
};

// Makes the figures, writes the report (and, for a new run, its spectra and its history row), prints
// each test's verdict and each failure on a line of its own, and returns kQualified or kNotQualified.
int writeReport(const ReportRun& run, QualificationObserver* observer, bool newRun);

}  // namespace dorvane::host::qualification
