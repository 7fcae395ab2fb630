// The history of a bench's qualifications: qualification-history.csv in the folder that holds the
// runs' folders, a row a run, each row committed to the disk as it is added (as the series table's
// rows are), oldest first:
//
//   # dorvane qualification history of bench family 9 model 60 (identity 589884): a row a run, oldest first
//   made,folder,verdict,3060.0 cm-1 error (cm-1),...
//   2026-12-09T21:40:03Z,qualification-20261209-213812,pass,0.0123,...
//
// A figure a run could not have is left empty. A file is untrusted when it is read back: its size is
// bounded first, every number is checked, and anything else gets one line that says what is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::host {

inline constexpr const char* kQualificationHistoryName = "qualification-history.csv";

struct QualificationHistoryRow {
  std::string made, folder, verdict;        // ISO 8601 time, the run's folder name, "pass" or "fail"
  std::vector<std::optional<double>> values;  // one a figure column
};

struct QualificationHistory {
  std::int32_t benchIdentity = 0;
  std::string benchName;
  std::vector<std::string> columns;  // the figures' columns, "NAME (UNIT)"
  std::vector<QualificationHistoryRow> rows;
};

// The history at `path`; none when no file is there. Throws HostFailure with one line for a file
// that is not a history of dorvane's or cannot be read.
std::optional<QualificationHistory> readQualificationHistory(const std::string& path);

// Adds `row` to the history at `path`, making the file with its header first when there is none
// (`history` then names the bench and the columns). Throws HostFailure: "cannot write PATH: REASON".
void appendQualificationHistory(const std::string& path, const QualificationHistory& history, const QualificationHistoryRow& row);

}  // namespace dorvane::host

namespace dorvane::host {

// The text of a run's report (qualification.json), bounded in size before it is read. Throws
// HostFailure with one line when it cannot be read.
std::string qualificationReportText(const std::string& path);

}  // namespace dorvane::host
