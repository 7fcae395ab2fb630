// The worker thread's start handshake and its bounded stop.
#include "runtime/thread_base.h"

#include "platform/module.h"
#include "runtime/debug_print.h"

namespace dorvane::runtime {

CThreadBase::CThreadBase(platform::DebugOutput& debugOutput) : debugOutput_(debugOutput) {}

CThreadBase::~CThreadBase() {
  if (running()) Stop();
  thread_.join();
}

bool CThreadBase::Start(std::function<std::uint32_t()> body) {
  if (running()) return false;
  // The previous body has set its done event and is returning: release its thread first.
  thread_.join();

  threadStartedEvent.reset();
  threadStartFailedEvent.reset();
  killEvent.reset();
  threadDoneEvent.reset();
  abortEvent.reset();

  threadCreated_ = thread_.start(std::move(body), platform::ThreadPriority::timeCritical);
  if (!threadCreated_) return false;
  threadStarted_ = true;
  // The done event stands in for an answer that a body ending early could not give.
  return platform::Event::waitAny({&threadStartedEvent, &threadStartFailedEvent, &threadDoneEvent},
                                  platform::kWaitForever) == 0;
}

void CThreadBase::Stop() {
  // At a Windows process's end the loader has already ended the thread: it cannot answer, and
  // waiting for it would only wait out the bound below at every exit.
  if (!threadCreated_ || platform::processExiting()) return;
  debugPrint(debugOutput_, "CThreadBase::Stop setting kill event");
  killEvent.set();
  debugPrint(debugOutput_, "CThreadBase::Stop waiting for thread done event");
  if (!threadDoneEvent.wait(kStopPatienceMs)) {
    debugPrint(debugOutput_, "CThreadBase::Stop no thread done event, terminating thread");
    abortEvent.set();
  }
  // The body is at its end (or hurrying there under the abort): wait for it to return.
  thread_.join();
}

}  // namespace dorvane::runtime
