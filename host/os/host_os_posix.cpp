// The host's system services on Linux: an eventfd for the co-add event, a self-pipe that turns
// Ctrl-C into something a poll can wait on, and posix_spawn for the virtual bench.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "host/os/host_failure.h"
#include "host/os/host_os.h"

extern char** environ;

namespace dorvane::host {
namespace {

std::atomic<int> stopRequests{0};
std::atomic<int> firstStopSignal{0};
// Written once per request: one pipe wakes the waits, the other the thread that shows the notice.
int stopPipe[2] = {-1, -1};
int noticePipe[2] = {-1, -1};

void onStopSignal(int signal) {
  int none = 0;
  firstStopSignal.compare_exchange_strong(none, signal);
  ++stopRequests;
  const int savedErrno = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing else may be done in a signal handler.
  [[maybe_unused]] const ssize_t woken = ::write(stopPipe[1], &byte, 1);
  [[maybe_unused]] const ssize_t told = ::write(noticePipe[1], &byte, 1);
  errno = savedErrno;
}

// Never destroyed: the thread that shows the notice may still wake while the program exits.
std::mutex& noticeLock = *new std::mutex;
StopNotice& currentNotice = *new StopNotice;
// The requests whose notice is on stderr (or needed none), for the program's way out.
std::condition_variable& noticesShownChanged = *new std::condition_variable;
int noticesShown = 0;

void drain(int descriptor) {
  char bytes[64];
  while (::read(descriptor, bytes, sizeof bytes) > 0) {
  }
}

void writeAll(int descriptor, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(descriptor, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

// Shows the notice for each request as it comes, while the main thread may be blocked in the driver.
void showNotices() {
  int shown = 0;
  for (;;) {
    pollfd readable{noticePipe[0], POLLIN, 0};
    if (::poll(&readable, 1, -1) < 0 && errno != EINTR) return;
    drain(noticePipe[0]);
    const int count = stopRequests;
    if (count == shown) continue;
    shown = count;
    std::string line = kPlainNotice;
    {
      std::lock_guard<std::mutex> hold(noticeLock);
      if (currentNotice) line = currentNotice(count);
    }
    // Over the progress line, when both share the terminal.
    if (!line.empty()) {
      writeAll(STDERR_FILENO, (::isatty(STDERR_FILENO) == 1 ? "\r\033[K" : "") + std::string("dorvane: ") + line + "\n");
    }
    {
      std::lock_guard<std::mutex> hold(noticeLock);
      noticesShown = count;
    }
    noticesShownChanged.notify_all();
  }
}

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

void catchStopRequests() {
  if (stopPipe[0] >= 0) return;
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(noticePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw HostFailure(systemError("cannot create a pipe"));
  }
  std::thread(showNotices).detach();
  struct sigaction action{};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

bool stopRequested() { return stopRequests > 0; }

int stopRequestCount() { return stopRequests; }

StopCause stopCause() {
  switch (const int signal = firstStopSignal) {
    case SIGINT: return {"Ctrl-C", kExitStopped};
    case SIGTERM: return {"a termination request (SIGTERM)", 128 + SIGTERM};
    case SIGHUP: return {"the terminal hanging up (SIGHUP)", 128 + SIGHUP};
    default: return {"signal " + std::to_string(signal), 128 + signal};
  }
}

void awaitStopNotices() {
  if (stopPipe[0] < 0) return;
  std::unique_lock<std::mutex> hold(noticeLock);
  // Bounded: a stderr that blocks (a full pipe nobody reads) must not keep the program from ending.
  noticesShownChanged.wait_for(hold, std::chrono::seconds(2), [] { return noticesShown >= stopRequests; });
}

void setStopNotice(StopNotice notice) {
  std::lock_guard<std::mutex> hold(noticeLock);
  currentNotice = std::move(notice);
}

CompletionEvent::CompletionEvent() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (event_ < 0) throw HostFailure(systemError("cannot create the co-add event"));
}

CompletionEvent::~CompletionEvent() { ::close(static_cast<int>(event_)); }

dorvane_event_handle CompletionEvent::handle() const {
  return reinterpret_cast<dorvane_event_handle>(static_cast<std::intptr_t>(event_));
}

CompletionEvent::Wake CompletionEvent::wait(int timeoutMs, int stopsToWake) {
  pollfd watched[2] = {{static_cast<int>(event_), POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
  const nfds_t count = stopPipe[0] >= 0 ? 2 : 1;
  if (stopRequests >= stopsToWake) return Wake::StopRequested;
  const int ready = ::poll(watched, count, timeoutMs);
  // The count, not the pipe, tells whether to wake: a request below stopsToWake is consumed here.
  if (count == 2 && (watched[1].revents & POLLIN) != 0) drain(stopPipe[0]);
  if (stopRequests >= stopsToWake) return Wake::StopRequested;
  if (ready > 0 && (watched[0].revents & POLLIN) != 0) {
    std::uint64_t signals = 0;
    if (::read(static_cast<int>(event_), &signals, sizeof signals) == sizeof signals) return Wake::Signalled;
  }
  return Wake::TimedOut;
}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::string programFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

std::string driverLibraryPath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&spectrometer_open), &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code error;
  const std::filesystem::path path = std::filesystem::canonical(info.dli_fname, error);
  return error ? std::string(info.dli_fname) : path.string();
}

std::vector<std::string> machineNames() {
  char name[256] = {};  // POSIX names are at most 255 bytes
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return {};
  return {name};
}

bool serialDeviceExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

void setEnvironment(const std::string& name, const std::string& value) {
  if (::setenv(name.c_str(), value.c_str(), 1) != 0) throw HostFailure(systemError(("cannot set " + name).c_str()));
}

VirtualBench::VirtualBench(const std::vector<std::string>& arguments, const std::string& errorLog) {
  const std::string program = programFolder() + "/dorvane-benchsim";
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw HostFailure(systemError("cannot start the virtual bench"));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (!errorLog.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  output_ = out[0];
  if (spawned != 0) {
    ::close(output_);
    throw HostFailure("cannot start the virtual bench " + program + ": " + std::strerror(spawned));
  }
  process_ = pid;
  // The bench prints its device at once; the bound is for a program that broke on its way up.
  pollfd readable{output_, POLLIN, 0};
  for (char c; ::poll(&readable, 1, 10000) == 1 && ::read(output_, &c, 1) == 1 && c != '\n';) device_ += c;
  if (device_.empty()) {
    stop();
    throw HostFailure("the virtual bench did not start (" + program + ")");
  }
}

VirtualBench::~VirtualBench() {
  stop();
  if (output_ >= 0) ::close(output_);
}

int VirtualBench::stop() {
  if (process_ <= 0) return 0;
  ::kill(static_cast<pid_t>(process_), SIGTERM);
  int status = 0;
  while (::waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
  }
  process_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool VirtualBench::waitWhileRunning() {
  // The bench's stdout reaches its end when the bench ends; the stop pipe wakes for Ctrl-C.
  for (;;) {
    pollfd watched[2] = {{output_, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    const nfds_t count = stopPipe[0] >= 0 ? 2 : 1;
    if (stopRequested()) return true;
    if (::poll(watched, count, -1) < 0 && errno != EINTR) return false;
    if (count == 2 && (watched[1].revents & POLLIN) != 0) drain(stopPipe[0]);
    if (stopRequested()) return true;
    if ((watched[0].revents & (POLLIN | POLLHUP)) != 0) {
      char discard[256];
      if (::read(output_, discard, sizeof discard) <= 0) return false;
    }
  }
}

}  // namespace dorvane::host
