// Pictures when they can: a worker thread that draws each saved file's pictures after its data is
// on the disk. When files come faster than it draws, it draws the newest and passes over those
// overtaken, so memory stays bounded (one file drawing, one waiting) whatever the rate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "host/acquisition/acquired_file.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace dorvane::host {

class PictureWorker {
 public:
  // `draw` draws one file's pictures on the worker's thread and says whether it did; it reports its
  // own failures, and what it throws ends nothing.
  using Draw = std::function<bool(const AcquiredFile&)>;
  explicit PictureWorker(Draw draw);  // throws HostFailure when no thread can be started
  ~PictureWorker() { finish(false); }
  PictureWorker(const PictureWorker&) = delete;
  PictureWorker& operator=(const PictureWorker&) = delete;

  // The newest file to draw; one still waiting is passed over.
  void offer(std::shared_ptr<const AcquiredFile> file);
  // Waits for the picture being drawn, and with `drawWaiting` for the one waiting too, then ends
  // the thread.
  void finish(bool drawWaiting);

  // The files drawn; read after finish.
  std::int32_t drawn() const { return drawn_; }

 private:
  std::uint32_t work();

  Draw draw_;
  platform::Mutex lock_;
  platform::Event changed_;  // set while a file waits, or the end is to be seen
  std::shared_ptr<const AcquiredFile> waiting_;
  bool closing_ = false;
  bool drawWaiting_ = false;
  std::int32_t drawn_ = 0;    // on the worker's thread until finish
  platform::Thread worker_;
};

}  // namespace dorvane::host
