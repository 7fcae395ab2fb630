// The run the live view shows: its state and its files' names under a lock, each change pushed to
// the pages; a file's data built as it is saved, from what the acquisition holds, and read back
// from the disk only for `dorvane view` or a file no longer held.
#include "host/live/live_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/analysis/tracking.h"
#include "host/os/host_failure.h"
#include "host/files/interferogram_files.h"
#include "host/text/text.h"

namespace dorvane::host::live {
namespace {

using Json = nlohmann::ordered_json;

// What a page is sent of a file: enough to draw it at any window width, at most this many points.
constexpr std::size_t kMostDrawnPoints = 4096;
// The centre burst's view: every point this far either side of it.
constexpr std::int32_t kZoomHalfWidth = 256;
// The files' data kept as sent, the newest ones: every page asks for the newest file as it arrives.
constexpr std::size_t kHeldFiles = 16;
// The remarks on the run's course the pages show: the newest few, for they tell of the moment.
constexpr std::size_t kHeldRemarks = 3;

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Every JSON text of the run is written by this one: a byte that is not UTF-8 (a file name, a
// system's message) becomes U+FFFD rather than an invalid text or an exception on the saving thread.
std::string jsonText(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// JSON has no NaN or infinity: a missing value is null, which the charts draw as a gap. A whole
// value goes out as an integer, so a point index or a band's limit reads "2250", not "2250.0".
Json jsonNumber(double value) {
  constexpr double kExactWholes = 9007199254740992.0;  // 2^53: every whole double below it is exact
  if (!std::isfinite(value)) return nullptr;
  if (value == std::trunc(value) && std::abs(value) < kExactWholes) return static_cast<std::int64_t>(value);
  return value;
}

// Seconds to the millisecond: the pages show whole seconds.
Json seconds(const std::optional<double>& value) {
  if (!value) return nullptr;
  return jsonNumber(std::round(*value * 1000) / 1000);
}

Json whole(const std::optional<std::int32_t>& value) {
  if (!value) return nullptr;
  return *value;
}

// "x": [...] and "y": [...] of the points at `indices`, added to `object`.
template <typename X>
void addSeries(Json& object, const std::vector<std::size_t>& indices, X xOf, const std::vector<double>& y) {
  Json xs = Json::array(), ys = Json::array();
  xs.get_ref<Json::array_t&>().reserve(indices.size());
  ys.get_ref<Json::array_t&>().reserve(indices.size());
  for (const std::size_t i : indices) {
    xs.push_back(jsonNumber(xOf(i)));
    ys.push_back(jsonNumber(y[i]));
  }
  object["x"] = std::move(xs);
  object["y"] = std::move(ys);
}

// Whether two paths name one file (a saved file and the background named on the command line).
bool sameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code notTheSame;
  return a == b || std::filesystem::equivalent(a, b, notTheSame);
}

// The points to draw of `values`: all of them when few, else the lowest and the highest of each
// stretch in their order, so that no peak or band is lost at any zoom the page offers.
std::vector<std::size_t> drawnPoints(const std::vector<double>& values) {
  std::vector<std::size_t> indices;
  if (values.size() <= kMostDrawnPoints) {
    for (std::size_t i = 0; i < values.size(); ++i) indices.push_back(i);
    return indices;
  }
  const std::size_t stretches = kMostDrawnPoints / 2;
  for (std::size_t s = 0; s < stretches; ++s) {
    const std::size_t from = s * values.size() / stretches, to = (s + 1) * values.size() / stretches;
    std::size_t low = from, high = from;
    for (std::size_t i = from; i < to; ++i) {
      // NaN never wins a comparison, so a stretch of gaps keeps its first point.
      if (values[i] < values[low]) low = i;
      if (values[i] > values[high]) high = i;
    }
    indices.push_back(std::min(low, high));
    if (low != high) indices.push_back(std::max(low, high));
  }
  return indices;
}

Json rowOf(std::int32_t number, const SeriesRow& row) {
  Json json = {{"number", number}, {"name", row.file}, {"seconds", seconds(row.seconds)}};
  for (const auto& [key, value] : {std::pair{"area", &BandMeasure::area}, std::pair{"height", &BandMeasure::height},
                                   std::pair{"position", &BandMeasure::position}}) {
    Json measures = Json::array();
    for (const BandMeasure& band : row.bands) measures.push_back(jsonNumber(band.*value));
    json[key] = std::move(measures);
  }
  return json;
}

// A file's data for the pages, its spectrum given or made by `maker`.
Json fileData(std::int32_t number, const std::string& name, const std::vector<double>& volts,
              const SpectrumRecord* spectrum, const std::string& spectrumError) {
  const auto pointIndex = [](std::size_t i) { return static_cast<double>(i); };
  Json interferogram = Json::object();
  addSeries(interferogram, drawnPoints(volts), pointIndex, volts);
  std::vector<std::size_t> zoomed;
  if (const std::optional<std::int32_t> centre = zpdIndexOf(volts)) {
    const std::int64_t from = std::max<std::int64_t>(0, *centre - kZoomHalfWidth);
    const std::int64_t to = std::min<std::int64_t>(static_cast<std::int64_t>(volts.size()) - 1, *centre + kZoomHalfWidth);
    for (std::int64_t i = from; i <= to; ++i) zoomed.push_back(static_cast<std::size_t>(i));
  }
  Json zoom = Json::object();
  addSeries(zoom, zoomed, pointIndex, volts);
  Json drawnSpectrum = nullptr;
  if (spectrum) {
    drawnSpectrum = {{"kind", spectrumKindName(spectrum->kind)}};
    addSeries(drawnSpectrum, drawnPoints(spectrum->values), [spectrum](std::size_t i) { return spectrum->wavenumbers[i]; },
              spectrum->values);
  }
  return {{"number", number},
          {"name", name},
          {"points", volts.size()},
          {"interferogram", std::move(interferogram)},
          {"zoom", std::move(zoom)},
          {"spectrum", std::move(drawnSpectrum)},
          {"spectrumError", spectrumError}};
}

Json fileData(std::int32_t number, const std::string& name, const InterferogramRecord& record,
              const SpectrumMaker& maker, const std::string& path) {
  try {
    const SpectrumRecord spectrum = maker.make(record, path);
    return fileData(number, name, record.volts, &spectrum, "");
  } catch (const std::exception& failure) {
    return fileData(number, name, record.volts, nullptr, failure.what());
  }
}

}  // namespace

const char* LiveRun::phaseName(Phase phase) {
  switch (phase) {
    case Phase::Starting: return "starting";
    case Phase::Scanning: return "scanning";
    case Phase::Transferring: return "transferring";
    case Phase::Waiting: return "waiting";
    case Phase::Finished: return "finished";
    case Phase::Failed: return "failed";
    case Phase::Stopped: return "stopped";
    case Phase::Viewing: return "viewing";
  }
  return "starting";
}

LiveRun::LiveRun(Mode mode, const std::string& folder, const ProcessingOptions& processing)
    : mode_(mode), folder_(folder), processing_(processing), singleBeam_(processing) {
  if (mode_ == Mode::View) phase_ = Phase::Viewing;
}

void LiveRun::attach(LiveServer* server) {
  platform::ScopedLock hold(lock_);
  server_ = server;
}

void LiveRun::track(std::vector<TrackedBand> bands) {
  {
    platform::ScopedLock hold(lock_);
    bands_ = std::move(bands);
  }
  publishTrend();
}

void LiveRun::setBackground(const InterferogramRecord& background, const std::string& name) {
  auto maker = std::make_shared<SpectrumMaker>(processing_);
  maker->setBackground(background, name);
  setBackground(std::move(maker), name);
}

void LiveRun::setBackground(std::shared_ptr<const SpectrumMaker> ratioed, const std::string& name) {
  {
    platform::ScopedLock hold(lock_);
    ratioed_ = std::move(ratioed);
    backgroundName_ = fileName(name);
    backgroundPath_ = name;
    // The demo's background is a file of its run, saved before it is known as the background.
    for (File& file : saved_) file.isBackground = sameFile(file.path, name);
  }
  publishState();
  publishTrend();  // its kind is the spectra's
}

void LiveRun::started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
                      std::optional<double> fileSeconds) {
  {
    platform::ScopedLock hold(lock_);
    bench_ = "bench " + benchName(benchIdentity);
    if (!filesFixed_) files_ = files;
    scans_ = scans;
    fileSeconds_ = fileSeconds;
    if (!startedAt_) startedAt_ = steadySeconds();
  }
  publishState();
}

void LiveRun::expectFiles(std::int32_t files) {
  {
    platform::ScopedLock hold(lock_);
    files_ = files;
    filesFixed_ = true;
  }
  publishState();
}

void LiveRun::scanning(std::int32_t number) { underWay(Phase::Scanning, number); }
void LiveRun::waiting(std::int32_t number, double) { underWay(Phase::Waiting, number); }
void LiveRun::transferring(std::int32_t number) { underWay(Phase::Transferring, number); }

void LiveRun::underWay(Phase phase, std::int32_t number) {
  {
    platform::ScopedLock hold(lock_);
    phase_ = phase;
    underWay_ = number;
  }
  publishState();
}

void LiveRun::notice(const std::string& line) {
  {
    platform::ScopedLock hold(lock_);
    error_ = line;
  }
  publishState();
}

void LiveRun::remark(const std::string& line) {
  {
    platform::ScopedLock hold(lock_);
    remarks_.push_back({startedAt_ ? steadySeconds() - *startedAt_ : 0, line});
    if (remarks_.size() > kHeldRemarks) remarks_.pop_front();
  }
  publishState();
}

void LiveRun::listed(std::int32_t number, const std::string& time, const std::string& interferogramPath,
                     const std::vector<std::string>& savedPaths, const InterferogramRecord* record) {
  File file{number, std::filesystem::path(interferogramPath).stem().string(), time, interferogramPath, {}, false};
  for (const std::string& path : savedPaths) {
    if (!path.empty()) file.saved.push_back(fileName(path));
  }
  std::vector<TrackedBand> bands;
  std::shared_ptr<const SpectrumMaker> ratioed;
  {
    platform::ScopedLock hold(lock_);
    bands = bands_;
    ratioed = ratioed_;
  }
  if (bands.empty() || !record) {
    add(std::move(file), std::nullopt);
    return;
  }
  // The spectrum the row is measured in is the one the pages are sent.
  SeriesRow row{0, file.name, std::vector<BandMeasure>(bands.size())};
  std::string data;
  try {
    const SpectrumRecord spectrum = (ratioed ? *ratioed : singleBeam_).make(*record, interferogramPath);
    data = jsonText(fileData(number, file.name, record->volts, &spectrum, ""));
    // A band this file's spectrum does not cover leaves only its own measures empty, and the banner
    // says why: the spectrum and the other bands are still shown.
    for (std::size_t i = 0; i < bands.size(); ++i) {
      try {
        row.bands[i] = measureBand(spectrum, bands[i]);
      } catch (const std::exception& failure) {
        notice(file.name + ": " + failure.what());
      }
    }
  } catch (const std::exception& failure) {
    data = jsonText(fileData(number, file.name, record->volts, nullptr, failure.what()));
  }
  const double timeMs = record->startedMs > 0 ? record->startedMs : record->timestampMs;
  if (firstFileMs_ == 0) firstFileMs_ = timeMs;
  row.seconds = timeMs > 0 ? (timeMs - firstFileMs_) / 1000 : std::nan("");
  add(std::move(file), std::move(data), std::move(row));
}

void LiveRun::saved(const std::shared_ptr<const AcquiredFile>& file) { show(file->number, *file); }

void LiveRun::show(std::int32_t number, const AcquiredFile& acquired) {
  const std::string path = acquired.files.jcamp();
  File file{number, std::filesystem::path(path).stem().string(), recordTimeText(acquired.record), path, {}, false};
  for (const std::vector<std::string>* paths : {&acquired.files.paths, &acquired.spectrumFiles.paths}) {
    for (const std::string& saved : *paths) file.saved.push_back(fileName(saved));
  }
  std::shared_ptr<const SpectrumMaker> ratioed;
  {
    platform::ScopedLock hold(lock_);
    ratioed = ratioed_;
  }
  // Built here, on the saving thread: the server's thread only sends it.
  std::string data;
  std::optional<SeriesRow> row = acquired.row;
  if (acquired.spectrum || !acquired.spectrumError.empty()) {
    data = jsonText(fileData(number, file.name, acquired.record.volts,
                             acquired.spectrum ? &*acquired.spectrum : nullptr, acquired.spectrumError));
  } else {
    data = jsonText(fileData(number, file.name, acquired.record, ratioed ? *ratioed : singleBeam_, path));
  }
  add(std::move(file), std::move(data), std::move(row));
}

void LiveRun::drawn(std::int32_t number, const std::vector<std::string>& pictures) {
  platform::ScopedLock hold(lock_);
  File* file = savedLocked(number);
  if (!file) return;
  for (const std::string& picture : pictures) file->saved.push_back(fileName(picture));
  // The page takes a file it knows again as the new word on it.
  if (server_) server_->publish("file", jsonText(fileEntry(*file)));
}

LiveRun::File* LiveRun::savedLocked(std::int32_t number) {
  const auto found = std::find_if(saved_.begin(), saved_.end(), [number](const File& f) { return f.number == number; });
  return found == saved_.end() ? nullptr : &*found;
}

void LiveRun::add(File file, std::optional<std::string> data, std::optional<SeriesRow> row) {
  const std::string entry = jsonText(fileEntry(file));
  const std::int32_t number = file.number;
  std::string backgroundPath;
  {
    platform::ScopedLock hold(lock_);
    backgroundPath = backgroundPath_;
  }
  // Looked at on the disk, outside the lock.
  file.isBackground = sameFile(file.path, backgroundPath);
  {
    platform::ScopedLock hold(lock_);
    file.againstBackground = ratioed_ != nullptr;
    lastSavedAt_ = steadySeconds();
    if (data) keepData(file.number, std::move(*data));
    // Numbers are the run's, given by the caller: the demo renumbers its second acquisition's file.
    saved_.push_back(std::move(file));
    if (server_) server_->publish("file", entry);
    if (row) {
      rows_.emplace_back(number, std::move(*row));
      if (server_) server_->publish("row", jsonText(rowOf(rows_.back().first, rows_.back().second)));
    }
  }
  publishState();
}

void LiveRun::keepData(std::int32_t number, std::string data) {
  held_.emplace_back(number, std::move(data));
  if (held_.size() > kHeldFiles) held_.pop_front();
}

void LiveRun::ended(const std::string& failure, bool stopped) {
  {
    platform::ScopedLock hold(lock_);
    phase_ = stopped ? Phase::Stopped : failure.empty() ? Phase::Finished : Phase::Failed;
    endedAt_ = steadySeconds();
    // A stop the user asked for is no error: the phase says it, and the banner keeps the last problem.
    if (!failure.empty() && !stopped) error_ = failure;
    underWay_.reset();
  }
  publishState();
}

void LiveRun::viewing(std::int32_t benchIdentity) {
  {
    platform::ScopedLock hold(lock_);
    bench_ = benchIdentity ? "bench " + benchName(benchIdentity) : "";
    files_ = static_cast<std::int32_t>(saved_.size());
    phase_ = Phase::Viewing;
  }
  publishState();
}

template <typename Change>
void LiveRun::changeQualification(Change change) {
  platform::ScopedLock hold(lock_);
  if (!qualification_) qualification_.emplace();
  change(*qualification_);
  if (server_) server_->publish("qualification", jsonText(qualificationLocked()));
}

void LiveRun::qualifying(const std::string& step) {
  changeQualification([&](Qualification& qualification) { qualification.step = step; });
}

void LiveRun::verdict(const std::string& test, bool passed, const std::string& detail) {
  changeQualification([&](Qualification& qualification) {
    std::vector<TestVerdict>& tests = qualification.tests;
    const auto told = std::find_if(tests.begin(), tests.end(), [&](const TestVerdict& t) { return t.name == test; });
    if (told == tests.end()) {
      tests.push_back({test, passed, detail});
    } else {
      *told = {test, passed, detail};
    }
  });
}

void LiveRun::qualified(bool passed, const std::string& report) {
  changeQualification([&](Qualification& qualification) {
    qualification.passed = passed;
    qualification.report = report;
  });
}

Json LiveRun::qualificationLocked() const {
  if (!qualification_) return nullptr;
  Json tests = Json::array();
  for (const TestVerdict& test : qualification_->tests) {
    tests.push_back({{"name", test.name}, {"passed", test.passed}, {"detail", test.detail}});
  }
  const std::optional<bool>& passed = qualification_->passed;
  return {{"step", qualification_->step},
          {"tests", std::move(tests)},
          {"verdict", passed ? Json(*passed ? "pass" : "fail") : Json(nullptr)},
          {"report", qualification_->report.empty() ? Json(nullptr) : Json(qualification_->report)}};
}

void LiveRun::publishState() {
  platform::ScopedLock hold(lock_);
  if (server_) server_->publish("state", jsonText(stateLocked()));
}

void LiveRun::publishTrend() {
  platform::ScopedLock hold(lock_);
  if (server_) server_->publish("trend", jsonText(trendLocked()));
}

Json LiveRun::stateLocked() const {
  const double now = steadySeconds();
  const bool begun = startedAt_.has_value();
  const double elapsed = begun ? endedAt_.value_or(now) - *startedAt_ : 0;
  const auto done = static_cast<std::int32_t>(saved_.size());
  // The rest at the pace of the files so far, or at the bench's estimate before the first.
  std::optional<double> remaining;
  const bool running =
      phase_ == Phase::Starting || phase_ == Phase::Scanning || phase_ == Phase::Transferring || phase_ == Phase::Waiting;
  if (running && files_ > 0 && begun) {
    const std::optional<double> perFile =
        done > 0 ? std::optional<double>((lastSavedAt_ - *startedAt_) / done) : fileSeconds_;
    if (perFile) {
      const double sinceLast = done > 0 ? now - lastSavedAt_ : elapsed;
      remaining = std::max(0.0, (files_ - done) * *perFile - sinceLast);
    }
  }
  Json remarks = Json::array();
  for (const Remark& remark : remarks_) remarks.push_back({{"seconds", seconds(remark.seconds)}, {"text", remark.text}});
  Json backgrounds = Json::array();
  for (const File& file : saved_) {
    if (file.isBackground) backgrounds.push_back(file.number);
  }
  return {{"mode", mode_ == Mode::View ? "view" : "acquire"},
          {"bench", bench_},
          {"files", files_},
          {"done", done},
          {"scans", scans_},
          {"phase", phaseName(phase_)},
          {"file", whole(underWay_)},
          {"elapsed", seconds(begun ? std::optional<double>(elapsed) : std::nullopt)},
          {"fileSeconds", seconds(fileSeconds_)},
          {"remaining", seconds(remaining)},
          {"error", error_},
          {"remarks", std::move(remarks)},
          {"folder", folder_},
          {"spectrum", spectrumKindName(ratioed_ ? processing_.ratio : SpectrumKind::SingleBeam)},
          {"background", backgroundName_},
          {"backgrounds", std::move(backgrounds)}};
}

Json LiveRun::fileEntry(const File& file) {
  return {{"number", file.number}, {"name", file.name}, {"time", file.time}, {"saved", file.saved}};
}

std::string LiveRun::runJson() {
  platform::ScopedLock hold(lock_);
  Json files = Json::array();
  for (const File& file : saved_) files.push_back(fileEntry(file));
  return jsonText({{"state", stateLocked()},
                   {"files", std::move(files)},
                   {"trend", trendLocked()},
                   {"qualification", qualificationLocked()}});
}

Json LiveRun::trendLocked() const {
  Json bands = Json::array();
  for (const TrackedBand& band : bands_) {
    bands.push_back({{"name", band.name}, {"low", jsonNumber(band.low)}, {"high", jsonNumber(band.high)}});
  }
  Json rows = Json::array();
  for (const auto& [number, row] : rows_) rows.push_back(rowOf(number, row));
  return {{"kind", spectrumKindName(ratioed_ ? processing_.ratio : SpectrumKind::SingleBeam)},
          {"bands", std::move(bands)},
          {"rows", std::move(rows)}};
}

std::optional<std::string> LiveRun::heldFileJson(std::int32_t number) {
  platform::ScopedLock hold(lock_);
  for (const auto& [heldNumber, json] : held_) {
    if (heldNumber == number) return json;
  }
  return std::nullopt;
}

std::optional<std::string> LiveRun::fileJson(std::int32_t number) {
  if (std::optional<std::string> held = heldFileJson(number)) return held;
  File file;
  std::shared_ptr<const SpectrumMaker> ratioed;
  {
    platform::ScopedLock hold(lock_);
    const File* found = savedLocked(number);
    if (!found) return std::nullopt;
    file = *found;
    if (file.againstBackground) ratioed = ratioed_;
  }
  // Read back from the disk, the path the run was told: a page names only a number.
  InterferogramRecord record;
  try {
    record = readForSpectrum(file.path, "", processing_);
  } catch (const std::exception& failure) {
    // Moved or removed since it was saved: the page says so in the spectrum's place.
    return jsonText({{"number", file.number},
                     {"name", file.name},
                     {"points", 0},
                     {"interferogram", nullptr},
                     {"zoom", nullptr},
                     {"spectrum", nullptr},
                     {"spectrumError", failure.what()}});
  }
  std::string json = jsonText(fileData(file.number, file.name, record, ratioed ? *ratioed : singleBeam_, file.path));
  platform::ScopedLock hold(lock_);
  keepData(number, json);
  return json;
}

}  // namespace dorvane::host::live
