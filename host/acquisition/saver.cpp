// The saving thread and the series table it appends to.
#include "host/acquisition/saver.h"

#include <filesystem>
#include <memory>

#include "host/analysis/tracking.h"
#include "host/files/file_text.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

std::string stemOf(const SavedFiles& files) { return std::filesystem::path(files.jcamp()).stem().string(); }

}  // namespace

SeriesAppender::SeriesAppender(const AcquireOptions& options, const OutputFolder& output)
    : options_(options), existing_(options.overwrite ? Existing::Replace : Existing::Keep),
      path_((std::filesystem::path(output.path()) / seriesFileName(options.prefix)).string()) {}

std::string SeriesAppender::inTheWay() const { return nameInTheWay({path_}, existing_); }

SeriesRow SeriesAppender::add(const AcquiredFile& file, const std::string& stem) {
  SeriesRow row;
  row.seconds = (file.record.startedMs - originMs_) / 1000;
  row.file = stem;
  if (file.spectrum) {
    row.bands = measureBands(*file.spectrum, options_.tracks);
  } else {
    row.bands.resize(options_.tracks.size());  // no spectrum: the row says so with empty values
  }
  if (!file_) file_.emplace(path_, seriesHeader(options_.tracks, spectrumKindName(options_.spectra->kind())), existing_);
  file_->append(row);
  return row;
}

Saver::Saver(const AcquireOptions& options, OutputFolder& output, ProgressLine& progress, AcquireObserver& observer,
             SeriesAppender* series)
    : options_(options), output_(output), progress_(progress), observer_(observer), series_(series) {
  if (output_.pictures()) pictures_.emplace([this](const AcquiredFile& file) { return drawPictures(file); });
  if (!worker_.start([this] { return work(); }, platform::ThreadPriority::normal)) {
    throw HostFailure("cannot start the thread that saves the files");
  }
}

void Saver::push(AcquiredFile file, std::string stem) {
  platform::ScopedLock hold(lock_);
  queue_.emplace_back(std::move(file), std::move(stem));
  changed_.set();
}

std::string Saver::finish(bool drawWaiting) {
  {
    platform::ScopedLock hold(lock_);
    closing_ = true;
    changed_.set();
  }
  if (worker_.joinable()) worker_.join();
  if (pictures_) pictures_->finish(drawWaiting);
  return failure_;
}

bool Saver::failed() {
  platform::ScopedLock hold(lock_);
  return !failure_.empty();
}

std::uint32_t Saver::work() {
  for (;;) {
    changed_.wait(platform::kWaitForever);
    std::pair<AcquiredFile, std::string> next;
    {
      platform::ScopedLock hold(lock_);
      if (queue_.empty()) {
        if (closing_) return 0;
        // Reset under the lock that push and finish set it under: no change goes unseen.
        changed_.reset();
        continue;
      }
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      save(next.first, next.second);
    } catch (const std::exception& failure) {
      platform::ScopedLock hold(lock_);
      failure_ = failure.what();
      return 0;
    }
  }
}

void Saver::save(AcquiredFile& file, const std::string& stem) {
  file.files = output_.save(file.record, stem, SetMembers::Data);
  if (options_.spectra) addSpectrum(file);
  if (series_) file.row = series_->add(file, stem);
  ++saved_;
  auto shared = std::make_shared<const AcquiredFile>(std::move(file));
  observer_.saved(shared);
  std::string more;
  if (shared->spectrum && !shared->spectrumFiles.paths.empty()) {
    more = "; " + std::string(spectrumKindName(shared->spectrum->kind)) + ": " + shared->spectrumFiles.csv();
  }
  progress_.print("saved " + shared->record.title + ": " + shared->files.csv() + more);
  if (pictures_) pictures_->offer(std::move(shared));
}

// A spectrum that cannot be made fails the file only when it is to be saved; the live view, which
// shows it otherwise, says why it has none.
void Saver::addSpectrum(AcquiredFile& file) {
  try {
    file.spectrum = options_.spectra->make(file.record, file.files.jcamp());
  } catch (const HostFailure& failure) {
    if (options_.saveSpectra) throw;
    file.spectrumError = failure.what();
    return;
  }
  if (options_.saveSpectra) {
    file.spectrumFiles = output_.save(*file.spectrum, spectrumStem(file.files.jcamp(), file.spectrum->kind), SetMembers::Data);
  }
}

bool Saver::drawPictures(const AcquiredFile& file) {
  try {
    std::vector<std::string> drawn = output_.save(file.record, stemOf(file.files), SetMembers::Pictures).paths;
    if (file.spectrum && !file.spectrumFiles.paths.empty()) {
      const SavedFiles more = output_.save(*file.spectrum, stemOf(file.spectrumFiles), SetMembers::Pictures);
      drawn.insert(drawn.end(), more.paths.begin(), more.paths.end());
    }
    if (drawn.empty()) {
      plotterMissing_ = true;
      return false;
    }
    observer_.drawn(file.number, drawn);
    return true;
  } catch (const HostFailure& failure) {
    progress_.print(std::string("dorvane: ") + failure.what());
    observer_.notice(failure.what());
    return false;
  }
}

std::string Saver::picturesLeft() const {
  if (!pictures_ || plotterMissing_ || pictures_->drawn() >= saved_) return {};
  return "pictures drawn for " + std::to_string(pictures_->drawn()) + " of " + counted(saved_, "file") +
         " (the others were overtaken by newer files or failed); draw the rest with: dorvane plot " +
         shownPath((std::filesystem::path(output_.path()) / (options_.prefix + "-*" + std::string(kRecordExtension))).string());
}

}  // namespace dorvane::host
