#include "host/acquisition/pictures.h"

#include <exception>
#include <utility>

#include "host/os/host_failure.h"

namespace dorvane::host {

PictureWorker::PictureWorker(Draw draw) : draw_(std::move(draw)) {
  if (!worker_.start([this] { return work(); }, platform::ThreadPriority::normal)) {
    throw HostFailure("cannot start the thread that draws the pictures");
  }
}

void PictureWorker::offer(std::shared_ptr<const AcquiredFile> file) {
  platform::ScopedLock hold(lock_);
  waiting_ = std::move(file);
  changed_.set();
}

void PictureWorker::finish(bool drawWaiting) {
  {
    platform::ScopedLock hold(lock_);
    closing_ = true;
    drawWaiting_ = drawWaiting;
    changed_.set();
  }
  if (worker_.joinable()) worker_.join();
}

std::uint32_t PictureWorker::work() {
  for (;;) {
    changed_.wait(platform::kWaitForever);
    std::shared_ptr<const AcquiredFile> next;
    {
      platform::ScopedLock hold(lock_);
      if (closing_ && !drawWaiting_) return 0;
      if (!waiting_) {
        if (closing_) return 0;
        // Reset under the lock that offer and finish set it under: no change goes unseen.
        changed_.reset();
        continue;
      }
      next = std::move(waiting_);
    }
    try {
      if (draw_(*next)) ++drawn_;
    } catch (const std::exception&) {
      // The drawing said what went wrong; the next file may draw.
    }
  }
}

}  // namespace dorvane::host
