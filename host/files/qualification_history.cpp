// The qualification history: its header and rows written, and read back.
#include "host/files/qualification_history.h"

#include <filesystem>

#include "host/files/file_text.h"
#include "host/files/text_reading.h"
#include "host/files/whole_file.h"
#include "host/os/file_system.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

using text_reading::bad;
using text_reading::Lines;
using text_reading::quoted;

constexpr std::string_view kTitleStart = "# dorvane qualification history of bench ";
constexpr std::string_view kIdentityStart = " (identity ";
constexpr std::string_view kTitleEnd = "): a row a run, oldest first";
constexpr std::string_view kFixedColumns = "made,folder,verdict";
constexpr std::uintmax_t kLargestHistory = 64ull << 20;  // decades of daily runs

// Names and folders go into a comma-separated row: a comma or a line break in one would make another column.
std::string cell(std::string_view text) {
  std::string clean = printableAscii(text);
  for (char& c : clean) {
    if (c == ',') c = ';';
  }
  return clean;
}

// Appended rather than concatenated: GCC 12 at -O3 takes the concatenation for an overlapping copy.
std::string headerText(const QualificationHistory& history) {
  std::string text(kTitleStart);
  text += cell(history.benchName);
  text += kIdentityStart;
  text += std::to_string(history.benchIdentity);
  text += kTitleEnd;
  text += '\n';
  text += kFixedColumns;
  for (const std::string& column : history.columns) {
    text += ',';
    text += cell(column);
  }
  text += '\n';
  return text;
}

std::string rowText(const QualificationHistoryRow& row) {
  std::string text;
  for (const std::string* field : {&row.made, &row.folder, &row.verdict}) {
    if (!text.empty()) text += ',';
    text += cell(*field);
  }
  for (const std::optional<double>& value : row.values) {
    text += ',';
    if (value) appendNumber(text, *value);
  }
  text += '\n';
  return text;
}

QualificationHistory readHistory(std::string_view text) {
  QualificationHistory history;
  Lines lines(text);
  std::string_view line;
  lines.next(line);
  const std::size_t identityAt = line.rfind(kIdentityStart);
  if (!line.starts_with(kTitleStart) || !line.ends_with(kTitleEnd) || identityAt == std::string_view::npos || identityAt < kTitleStart.size()) {
    bad(lines.at() + quoted(line) + " is not a qualification history's title");
  }
  history.benchName = std::string(line.substr(kTitleStart.size(), identityAt - kTitleStart.size()));
  const std::size_t digits = identityAt + kIdentityStart.size();
  history.benchIdentity = static_cast<std::int32_t>(text_reading::integerIn(
      lines, "the bench's identity", line.substr(digits, line.size() - kTitleEnd.size() - digits), 0, INT32_MAX));
  if (!lines.next(line) || !line.starts_with(kFixedColumns)) bad(lines.at() + "the column names made,folder,verdict,... are missing");
  const std::vector<std::string_view> names = text_reading::csvFields(line);
  for (std::size_t i = 3; i < names.size(); ++i) history.columns.emplace_back(names[i]);
  while (text_reading::nextCsvRow(lines, line)) {
    const std::vector<std::string_view> parts = text_reading::csvFields(line);
    if (parts.size() != names.size()) {
      bad(lines.at() + std::to_string(parts.size()) + " fields where the header names " + std::to_string(names.size()));
    }
    QualificationHistoryRow row{std::string(parts[0]), std::string(parts[1]), std::string(parts[2]), {}};
    for (std::size_t i = 3; i < parts.size(); ++i) {
      row.values.push_back(parts[i].empty() ? std::nullopt : std::optional(text_reading::finiteValue(lines, parts[i])));
    }
    history.rows.push_back(std::move(row));
  }
  return history;
}

}  // namespace

std::optional<QualificationHistory> readQualificationHistory(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  QualificationHistory history;
  const std::string failure = text_reading::contentFailure([&] {
    history = readHistory(text_reading::savedFileText(path, kLargestHistory, "qualification history"));
  });
  if (!failure.empty()) {
    throw HostFailure(shownPath(path) + ": " + failure + " (move it aside to start a new history)", kExitUsage);
  }
  return history;
}

void appendQualificationHistory(const std::string& path, const QualificationHistory& history, const QualificationHistoryRow& row) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    const std::string header = headerText(history);
    const FileSetMember member{path, [&header](TemporaryFile& file) { return file.write(header); }};
    if (const std::string failure = writeFileSet({member}, Existing::Keep); !failure.empty()) throw HostFailure(failure);
  }
  std::string reason;
  const std::unique_ptr<AppendingFile> file = AppendingFile::open(path, reason);
  if (!file) throw HostFailure(cannotWrite(path, reason));
  if (const std::string failure = file->append(rowText(row)); !failure.empty()) throw HostFailure(failure);
}

}  // namespace dorvane::host

namespace dorvane::host {

std::string qualificationReportText(const std::string& path) {
  constexpr std::uintmax_t kLargestReport = 16ull << 20;
  std::string text;
  const std::string failure = text_reading::contentFailure([&] { text = text_reading::savedFileText(path, kLargestReport, "qualification report"); });
  if (!failure.empty()) throw HostFailure(shownPath(path) + ": " + failure, kExitUsage);
  return text;
}

}  // namespace dorvane::host
