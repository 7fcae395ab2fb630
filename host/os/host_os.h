// What the host needs from the operating system beside the driver: the co-add event, Ctrl-C, where
// its files live, and the virtual bench as a child program. One source per system.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dorvane.h"
#include "host/os/host_failure.h"

namespace dorvane::host {

// From the first call on, Ctrl-C (and a polite termination request, a hang-up, or a closed console
// window on Windows) no longer ends the program: it is noted, and the program stops its work at the
// next point where that is safe. Each request is counted: a second Ctrl-C can ask for more haste.
void catchStopRequests();
bool stopRequested();
int stopRequestCount();

// What asked the program to stop, for its last line ("Ctrl-C", "a termination request (SIGTERM)"),
// and the exit status that tells it to a shell (130 for Ctrl-C, 128 + the signal's number otherwise).
struct StopCause {
  std::string what;
  int exitStatus;
};
StopCause stopCause();
// The failure that ends the work after a stop request: "stopped by Ctrl-C" and `rest` (e.g. "; the
// port is closed"), with the exit status that tells the cause (stopCause).
inline HostFailure stoppedBy(const std::string& rest) {
  const StopCause cause = stopCause();
  return HostFailure("stopped by " + cause.what + rest, cause.exitStatus);
}

// The line shown on stderr, after "dorvane: ", the moment a stop request arrives (the program may be
// deep in a driver call that cannot be cut short): `notice(count)`, count 1 for the first request;
// "" shows nothing. Replaces the previous notice; an empty function brings back kPlainNotice.
inline constexpr const char* kPlainNotice = "stopping…";
using StopNotice = std::function<std::string(int count)>;
void setStopNotice(StopNotice notice);
// Waits (at most 2 s) until the notice of every stop request so far is on stderr: called on the
// program's way out, which a request may wake before its notice is written.
void awaitStopNotices();

// The event the driver signals after each file: an eventfd on Linux, a Win32 event on Windows.
class CompletionEvent {
 public:
  enum class Wake { Signalled, StopRequested, TimedOut };

  CompletionEvent();  // throws HostFailure when the system has none to give
  ~CompletionEvent();
  CompletionEvent(const CompletionEvent&) = delete;
  CompletionEvent& operator=(const CompletionEvent&) = delete;

  dorvane_event_handle handle() const;
  // Blocks until the driver signals (the signal is consumed), the stop requests reach `stopsToWake`,
  // or the time passes.
  Wake wait(int timeoutMs, int stopsToWake = 1);

 private:
  long long event_;  // the eventfd, or the HANDLE
};

// A terminal that takes the progress line's escape sequences (a Windows console is switched to them).
bool stdoutIsTerminal();
// Whether someone at a terminal can answer a question on stdin.
bool stdinIsTerminal();
// The folder of the running program, and that of the loaded driver library (its log is kept there).
std::string programFolder();
std::string driverLibraryPath();
// The machine's own names, as a browser on the network may know it ("lab-pc"; on Windows its DNS
// name "lab-pc.lab.example" too); none when the system tells none.
std::vector<std::string> machineNames();
// Whether a serial device is there now (a pseudo-terminal whose bench ended, or an unplugged USB
// adapter's, is not): how a bench that vanished is told from one that stopped answering.
bool serialDeviceExists(const std::string& path);
// Sets an environment variable of this process: how the driver finds a port's device.
void setEnvironment(const std::string& name, const std::string& value);

// dorvane-benchsim started from beside this program, in a process group of its own so that Ctrl-C
// reaches only the host, which stops the bench when it is done with it. Linux only: on Windows the
// constructor throws HostFailure saying where the virtual bench runs.
class VirtualBench {
 public:
  // `errorLog` receives the bench's messages; empty: they go to this program's stderr.
  // Throws HostFailure when the program cannot be started or names no device.
  VirtualBench(const std::vector<std::string>& arguments, const std::string& errorLog);
  ~VirtualBench();
  VirtualBench(const VirtualBench&) = delete;
  VirtualBench& operator=(const VirtualBench&) = delete;

  // The device a driver opens to reach the bench (the pty's slave).
  const std::string& device() const { return device_; }
  // Asks the bench to end and waits for it; returns its exit status.
  int stop();
  // Blocks until the bench ends by itself or a stop is requested; true when a stop was requested.
  bool waitWhileRunning();

 private:
  long long process_ = -1;
  int output_ = -1;
  std::string device_;
};

}  // namespace dorvane::host
