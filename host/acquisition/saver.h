// The saving of each fetched file on a thread of its own: its data files, its spectrum, its row of
// the series table, then its pictures handed to the picture worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "host/acquisition/acquire.h"
#include "host/acquisition/pictures.h"
#include "host/acquisition/progress_line.h"
#include "host/files/series_file.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace dorvane::host {

// Appends a row a file to the series table, which it makes at the first row: its header names what
// the spectra are.
class SeriesAppender {
 public:
  SeriesAppender(const AcquireOptions& options, const OutputFolder& output);

  // The first file began at `originMs`: the rows count their seconds from it.
  void startsAt(double originMs) { originMs_ = originMs; }

  const std::string& path() const { return path_; }
  // "" or the line the table's name would be refused with, for the check before the first scan.
  std::string inTheWay() const;

  // Measures the file's bands and appends its row, committed to the disk.
  SeriesRow add(const AcquiredFile& file, const std::string& stem);

 private:
  const AcquireOptions& options_;
  Existing existing_;
  double originMs_ = 0;
  std::string path_;
  std::optional<SeriesFile> file_;
};

// Saves on a thread of its own, so that fetching the next co-add never waits for the disk: the
// driver keeps only the newest co-add, and a slow save would let the next replace it. The data
// first; the pictures go to the picture worker, which never holds the saving up.
class Saver {
 public:
  Saver(const AcquireOptions& options, OutputFolder& output, ProgressLine& progress, AcquireObserver& observer,
        SeriesAppender* series);
  ~Saver() { finish(false); }
  Saver(const Saver&) = delete;
  Saver& operator=(const Saver&) = delete;

  void push(AcquiredFile file, std::string stem);
  // Saves what was handed over and ends the thread; the pictures' worker draws the file waiting
  // too when `drawWaiting`, else only finishes the one it draws. The first failure's line, or empty.
  std::string finish(bool drawWaiting);
  bool failed();
  std::int32_t saved() const { return saved_; }
  // After finish: "" or the line that tells how many pictures were drawn and how to draw the rest.
  std::string picturesLeft() const;

 private:
  std::uint32_t work();
  void save(AcquiredFile& file, const std::string& stem);
  void addSpectrum(AcquiredFile& file);
  bool drawPictures(const AcquiredFile& file);

  const AcquireOptions& options_;
  OutputFolder& output_;
  ProgressLine& progress_;
  AcquireObserver& observer_;
  SeriesAppender* series_;
  platform::Mutex lock_;
  platform::Event changed_;  // set while there is something to save, or the end to see
  std::deque<std::pair<AcquiredFile, std::string>> queue_;
  bool closing_ = false;
  std::string failure_;
  std::atomic<std::int32_t> saved_{0};
  std::atomic<bool> plotterMissing_{false};
  std::optional<PictureWorker> pictures_;
  platform::Thread worker_;
};

}  // namespace dorvane::host
