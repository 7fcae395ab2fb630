// CThreadBase: one worker thread and the events that start and stop it. Its owner hands Start the
// body; Start blocks until the body reports whether it got going, Stop asks it to end and waits a
// bounded time for it.
#pragma once

#include <cstdint>
#include <functional>

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
  ~CThreadBase();
  CThreadBase(const CThreadBase&) = delete;
  CThreadBase& operator=(const CThreadBase&) = delete;

  // Starts a fresh thread at time-critical priority running `body`, and waits until the body set
  // threadStartedEvent (true), or set threadStartFailedEvent or ended without either (false).
  // Refused (false) while an earlier body is still running: two bodies must never share one
  // object. The body must answer within its own bounds, set threadDoneEvent as its last act and
  // watch killEvent.
  bool Start(std::function<std::uint32_t()> body);

  // Sets the kill event and waits up to 5000 ms for threadDoneEvent. A body that does not finish
  // by then is not terminated (that could leave the log's or the heap's lock held): the abort is
  // raised, which makes its waits, sleeps and serial calls fail at once, and the thread is joined.
  void Stop();

  // True once a Start has run a body on this object, whatever that body answered; never set back.
  bool threadStarted() const { return threadStarted_; }
  // True from a Start until the body has set threadDoneEvent.
  bool running() const { return threadCreated_ && !threadDoneEvent.isSet(); }

  platform::Event threadStartedEvent;
  platform::Event threadStartFailedEvent;
  platform::Event killEvent;
  platform::Event threadDoneEvent;
  // Raised by Stop when the body outlived its patience; never reset while that body runs.
  platform::Event abortEvent;

 private:
  platform::DebugOutput& debugOutput_;
  platform::Thread thread_;
  bool threadCreated_ = false;
  bool threadStarted_ = false;
};

}  // namespace dorvane::runtime
