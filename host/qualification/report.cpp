// The report of a run: figures from the raw files as they lie in its folder, so that a report made
// at the bench and one remade later with --from come from the same bytes.
#include "host/qualification/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "host/acquisition/acquisition_loop.h"
#include "host/acquisition/timing.h"
#include "host/analysis/processing.h"
#include "host/files/file_digest.h"
#include "host/files/file_text.h"
#include "host/files/interferogram_files.h"
#include "host/files/whole_file.h"
#include "host/os/host_failure.h"
#include "host/qualification/report_page.h"
#include "host/text/text.h"

namespace dorvane::host::qualification {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kRoles[] = {"background", "sample"};
constexpr std::int32_t kMostFilesOfARole = 999;

// The raw file of ROLE-00K in `folder`: the JCAMP-DX file, else the CSV file; "" when neither is there.
std::string rawFile(const std::string& folder, const std::string& role, std::int32_t number) {
  for (const char* extension : {".jdx", ".csv"}) {
    const fs::path path = fs::path(folder) / (numbered(role, number) + extension);
    std::error_code error;
    if (fs::is_regular_file(path, error)) return path.string();
  }
  return {};
}

RawFiles readRawFiles(const std::string& folder) {
  RawFiles raw;
  for (const std::string role : kRoles) {
    const bool background = role == kRoles[0];
    for (std::int32_t number = 1; number <= kMostFilesOfARole; ++number) {
      const std::string path = rawFile(folder, role, number);
      if (path.empty()) break;
      InterferogramRecord record = readForSpectrum(path, background ? "the background " : "the sample ", qualificationProcessing());
      (background ? raw.backgrounds : raw.samples).push_back(std::move(record));
      (background ? raw.backgroundNames : raw.sampleNames).push_back(fileName(path));
    }
  }
  if (raw.backgrounds.size() != 2 || raw.samples.size() < 2) {
    throw HostFailure(shownPath(folder) + " holds " + counted(static_cast<std::int64_t>(raw.backgrounds.size()), "background") + " and " +
                          counted(static_cast<std::int64_t>(raw.samples.size()), "sample") +
                          " (background-001, background-002, sample-001 ... as .jdx or .csv): a qualification takes two "
                          "backgrounds and at least two samples", kExitUsage);
  }
  return raw;
}

// Every raw file of the run, both formats, with its role and digest, in name order.
Json rawFileList(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;  // name, role
  for (const std::string role : kRoles) {
    for (std::int32_t number = 1; number <= kMostFilesOfARole; ++number) {
      bool any = false;
      for (const char* extension : {".csv", ".jdx"}) {
        const std::string name = numbered(role, number) + extension;
        std::error_code error;
        if (!fs::is_regular_file(fs::path(folder) / name, error)) continue;
        files.emplace_back(name, role);
        any = true;
      }
      if (!any) break;
    }
  }
  Json list = Json::array();
  for (const auto& [name, role] : files) {
    std::string digest;
    if (const std::string failure = fileSha256Hex((fs::path(folder) / name).string(), digest); !failure.empty()) throw HostFailure(failure);
    list.push_back(Json{{"name", name}, {"role", role}, {"sha256", digest}});
  }
  return list;
}

std::string nowText() { return utcTimeText("%Y-%m-%dT%H:%M:%SZ", wallClockMs()); }

// The spectra the figures came from, beside the raw files: they are remade, not read, by --from.
void saveSpectra(const Figures& figures, const std::string& folder) {
  SpectrumSaver saver(Existing::Keep, false);
  for (const auto& [stem, spectrum] : figures.spectra) saver.save(spectrum, folder, stem);
}

std::string fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// What a test's line says beside its verdict.
std::string detailOf(const std::string& key, const Json& test) {
  if (key == "wavenumber_accuracy") {
    const Json& bands = test["bands"];
    const auto within = std::count_if(bands.begin(), bands.end(), [](const Json& band) { return band["passed"].get<bool>(); });
    return std::to_string(within) + " of " + std::to_string(bands.size()) + " bands within tolerance";
  }
  if (key == "resolution") {
    std::string text;
    for (const Json& pair : test["pairs"]) {
      text += (text.empty() ? "" : "; ") + numberText(pair["maximum_near"].get<double>()) + "/" + numberText(pair["minimum_near"].get<double>()) + ": " +
              (pair["difference"].is_number() ? fixed(pair["difference"].get<double>(), 1) + " %T (more than " + numberText(pair["least"].get<double>()) + ")" : "not measured");
    }
    return text + ", at a nominal resolution of " + fixed(test["nominal_resolution"].get<double>(), 2) + " cm-1";
  }
  if (key == "hundred_percent_line") {
    std::string text = "RMS noise";
    for (const Json& range : test["ranges"]) {
      text += " " + (range.contains("rms") ? fixed(range["rms"].get<double>(), 4) : std::string("-")) + " %T in " +
              numberText(range["low"].get<double>()) + "-" + numberText(range["high"].get<double>()) + " cm-1;";
    }
    const Json& departure = test["departure"];
    return text + " largest departure " + (departure["value"].is_number() ? fixed(departure["value"].get<double>(), 2) + " %T" : std::string("not measured"));
  }
  if (key == "energy") {
    if (test["reference"]["self"].get<bool>()) return "this run is the reference of the runs after it";
    double least = 1e300;
    for (const Json& level : test["levels"]) {
      if (level.contains("share")) least = std::min(least, level["share"].get<double>());
    }
    if (test["burst"].contains("share")) least = std::min(least, test["burst"]["share"].get<double>());
    return "lowest share of the reference's: " + fixed(100 * least, 1) + " % (at least " + fixed(100 * test["least_share"].get<double>(), 0) + " %)";
  }
  double position = 0, percent = 0;
  for (const Json& entry : test["positions"]) {
    if (entry["standard_deviation"].is_number()) position = std::max(position, entry["standard_deviation"].get<double>());
  }
  for (const Json& entry : test["percents"]) {
    if (entry["standard_deviation"].is_number()) percent = std::max(percent, entry["standard_deviation"].get<double>());
  }
  return "over " + counted(test["samples"].get<std::int64_t>(), "sample") + ": position spread at most " + fixed(position, 4) +
         " cm-1, %T spread at most " + fixed(percent, 4);
}

constexpr std::pair<const char*, const char*> kTestNames[] = {
    {"wavenumber_accuracy", "wavenumber accuracy"}, {"resolution", "resolution"}, {"hundred_percent_line", "100 % line"},
    {"energy", "energy"}, {"repeatability", "repeatability"}};

std::string columnOf(const HistoryFigure& figure) { return figure.unit.empty() ? figure.name : figure.name + " (" + figure.unit + ")"; }

std::vector<FigureTrend> trendsOf(const Figures& figures, const std::optional<QualificationHistory>& history, const std::string& made) {
  std::vector<FigureTrend> trends;
  for (const HistoryFigure& figure : figures.history) {
    FigureTrend trend{figure.name, figure.unit, figure.least, figure.most, {}, {}};
    if (history) {
      const auto column = std::find(history->columns.begin(), history->columns.end(), columnOf(figure));
      if (column != history->columns.end()) {
        const std::size_t index = static_cast<std::size_t>(column - history->columns.begin());
        for (const QualificationHistoryRow& row : history->rows) {
          trend.made.push_back(row.made);
          trend.values.push_back(index < row.values.size() && row.values[index] ? *row.values[index] : NAN);
        }
      }
    }
    trend.made.push_back(made);
    trend.values.push_back(figure.value.value_or(NAN));
    trends.push_back(std::move(trend));
  }
  return trends;
}

void appendHistoryRow(const ReportRun& run, const Figures& figures, const Json& report) {
  QualificationHistory header;
  header.benchIdentity = report["bench"]["identity"].get<std::int32_t>();
  header.benchName = report["bench"]["name"].get<std::string>();
  for (const HistoryFigure& figure : figures.history) header.columns.push_back(columnOf(figure));
  if (run.history && run.history->columns != header.columns) {
    throw HostFailure(shownPath(run.historyPath) + " holds other figures than this run's (its limits' bands or ranges differ): the "
                          "report stands in " + shownPath(run.folder) + " but has no row in that history; keep each set of "
                          "limits in a folder of its own", kCouldNotQualify);
  }
  QualificationHistoryRow row{report["made"].get<std::string>(), fileName(fs::path(run.folder).lexically_normal().string()),
                              report["verdict"].get<std::string>(), {}};
  for (const HistoryFigure& figure : figures.history) row.values.push_back(figure.value);
  appendQualificationHistory(run.historyPath, header, row);
}

void writeText(const std::string& path, const std::string& text) {
  const FileSetMember member{path, [&text](TemporaryFile& file) { return file.write(text); }};
  if (const std::string failure = writeFileSet({member}, Existing::Keep); !failure.empty()) throw HostFailure(failure);
}

}  // namespace

nlohmann::ordered_json parseReport(const std::string& text, const std::string& path) {
  Json report = Json::parse(text, nullptr, false);
  if (report.is_discarded() || !report.is_object() || report.value("format", "") != kReportFormat) {
    throw HostFailure(shownPath(path) + " is not a qualification report of dorvane's (\"format\": \"" + kReportFormat + "\")", kExitUsage);
  }
  return report;
}

int writeReport(const ReportRun& run, QualificationObserver* observer, bool newRun) {
  const std::string rawFolder = run.rawFolder.empty() ? run.folder : run.rawFolder;
  const RawFiles raw = readRawFiles(rawFolder);
  const Figures figures = computeFigures(raw, run.settings, run.reference);
  if (newRun) saveSpectra(figures, run.folder);

  const InterferogramRecord& first = raw.backgrounds.front();
  const bool passed = figures.failures.empty();
  Json report;
  report["format"] = kReportFormat;
  report["made"] = nowText();
  report["measured"] = recordTimeText(first);
  report["verdict"] = passed ? "pass" : "fail";
  report["failures"] = figures.failures;
  // The host and the spectra library that made the figures are built together from one version.
  report["software"] = Json{{"host", DORVANE_VERSION}, {"spectra", DORVANE_VERSION}};
  report["bench"] = Json{{"identity", first.benchIdentity}, {"name", benchName(first.benchIdentity)}, {"setup", printableAscii(first.setupText)}};
  report["acquisition"] = Json{{"points", static_cast<std::int64_t>(first.volts.size())},
                               {"scans", first.scans ? Json(*first.scans) : Json(nullptr)},
                               {"samples", static_cast<std::int64_t>(raw.samples.size())},
                               {"nominal_resolution", rounded(figures.nominalResolution, 4)},
                               {"processing", processingJson(first)}};
  report["limits"] = limitsJson(run.settings);
  report["files"] = rawFileList(rawFolder);
  report["tests"] = figures.tests;
  const std::string text = report.dump(2) + "\n";
  writeText((fs::path(run.folder) / kReportName).string(), text);
  const std::string page = (fs::path(run.folder) / kPageName).string();
  writeText(page, reportPage(report, figures.film, figures.line, trendsOf(figures, run.history, report["made"].get<std::string>())));

  std::cout << "\nqualification of bench " << report["bench"]["name"].get<std::string>() << " (" << counted(static_cast<std::int64_t>(raw.samples.size()), "sample")
            << ", nominal resolution " << fixed(figures.nominalResolution, 2) << " cm-1):\n";
  for (const auto& [key, name] : kTestNames) {
    const Json& test = figures.tests[key];
    const bool ok = test["passed"].get<bool>();
    const std::string detail = detailOf(key, test);
    std::cout << "  " << (ok ? "pass  " : "FAIL  ") << name << ": " << detail << "\n";
    if (observer) observer->verdict(name, ok, detail);
  }
  if (newRun) appendHistoryRow(run, figures, report);
  std::cout << (passed ? "PASSED: every test within its limits" : "FAILED: " + counted(static_cast<std::int64_t>(figures.failures.size()), "failure"))
            << "\nreport: " << shownPath(page) << "\n        " << shownPath((fs::path(run.folder) / kReportName).string()) << std::endl;
  for (const std::string& failure : figures.failures) std::cerr << "dorvane: FAILED " << failure << "\n";
  std::cerr << std::flush;
  if (observer) observer->qualified(passed, page);
  return passed ? kQualified : kNotQualified;
}

}  // namespace dorvane::host::qualification
