// CThreadBase: one worker thread and the events that start and stop it. A derived class supplies
// the body, ThreadProc; Start blocks until the body reports that it runs, Stop asks it to end and
// waits a bounded time for it.
#pragma once

#include <cstdint>

#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace dorvane::runtime {

// How long Stop waits for the body to finish after setting the kill event.
inline constexpr std::uint32_t kStopPatienceMs = 5000;

class CThreadBase {
 public:
  explicit CThreadBase(platform::DebugOutput& debugOutput);
  // Stops and joins a body still running, so no thread outlives the object it works on.
  virtual ~CThreadBase();
  CThreadBase(const CThreadBase&) = delete;
  CThreadBase& operator=(const CThreadBase&) = delete;

  // Starts a fresh thread at time-critical priority and waits until its body set
  // threadStartedEvent (true) or threadStartFailedEvent (false). Refused (false) while an earlier
  // body of this object is still running: two bodies must never share one object.
  virtual bool Start();

  // Sets the kill event and waits up to 5000 ms for threadDoneEvent. A body that does not finish
  // by then is not terminated (that could leave the log's or the heap's lock held): the abort is
  // raised, which makes its waits, sleeps and serial calls fail at once, and the thread is joined.
  void Stop();

  // The body, run on the worker thread. It must set threadStartedEvent (or
  // threadStartFailedEvent) before anything that may take long, watch killEvent, and set
  // threadDoneEvent as its last act.
  virtual std::uint32_t ThreadProc() = 0;

  // True once a Start has succeeded; never set back.
  bool threadStarted() const { return threadStarted_; }
  // True from a Start until the body has set threadDoneEvent.
  bool running() const { return threadCreated_ && !threadDoneEvent.isSet(); }

  platform::Event threadStartedEvent;
  platform::Event threadStartFailedEvent;
  platform::Event killEvent;
  platform::Event threadDoneEvent;
  // Raised by Stop when the body outlived its patience; never reset while that body runs.
  platform::Event abortEvent;

 protected:
  platform::DebugOutput& debugOutput_;

 private:
  platform::Thread thread_;
  bool threadCreated_ = false;
  bool threadStarted_ = false;
};

}  // namespace dorvane::runtime
