// The host's system services on Linux: an eventfd for the co-add event, a self-pipe that turns
// Ctrl-C into something a poll can wait on, and posix_spawn for the virtual bench.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>

#include "tools/host_failure.h"
#include "tools/host_os.h"

extern char** environ;

namespace dorvane::host {
namespace {

std::atomic<bool> stopWanted{false};
int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
  stopWanted = true;
  const int savedErrno = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing else may be done in a signal handler.
  [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
  errno = savedErrno;
}

// std::cerr's buffer on a descriptor of its own.
class DescriptorBuffer final : public std::streambuf {
 public:
  explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) {}

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char byte = static_cast<char>(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    std::streamsize done = 0;
    while (done < count) {
      const ssize_t written = ::write(descriptor_, text + done, static_cast<std::size_t>(count - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      done += written;
    }
    return done;
  }

 private:
  int descriptor_;
};

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

void catchStopRequests() {
  if (stopPipe[0] >= 0) return;
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw HostFailure(systemError("cannot create a pipe"));
  struct sigaction action{};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

bool stopRequested() { return stopWanted; }

CompletionEvent::CompletionEvent() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (event_ < 0) throw HostFailure(systemError("cannot create the co-add event"));
}

CompletionEvent::~CompletionEvent() { ::close(static_cast<int>(event_)); }

dorvane_event_handle CompletionEvent::handle() const {
  return reinterpret_cast<dorvane_event_handle>(static_cast<std::intptr_t>(event_));
}

CompletionEvent::Wake CompletionEvent::wait(int timeoutMs) {
  pollfd watched[2] = {{static_cast<int>(event_), POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
  const nfds_t count = stopPipe[0] >= 0 ? 2 : 1;
  if (stopWanted) return Wake::StopRequested;
  const int ready = ::poll(watched, count, timeoutMs);
  if (stopWanted) return Wake::StopRequested;
  if (ready > 0 && (watched[0].revents & POLLIN) != 0) {
    std::uint64_t signals = 0;
    if (::read(static_cast<int>(event_), &signals, sizeof signals) == sizeof signals) return Wake::Signalled;
  }
  return Wake::TimedOut;
}

void keepDriverDebugOutput(bool wanted) {
  if (wanted) return;
  const int own = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (own < 0 || nowhere < 0) return;  // the driver's lines stay mixed in; nothing is lost
  ::dup2(nowhere, STDERR_FILENO);
  ::close(nowhere);
  // Never destroyed: std::cerr is flushed at exit after every static of ours is gone.
  static DescriptorBuffer* const hostErrors = new DescriptorBuffer(own);
  std::cerr.rdbuf(hostErrors);
}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

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
    if (stopWanted) return true;
    if (::poll(watched, count, -1) < 0 && errno != EINTR) return false;
    if (stopWanted) return true;
    if ((watched[0].revents & (POLLIN | POLLHUP)) != 0) {
      char discard[256];
      if (::read(output_, discard, sizeof discard) <= 0) return false;
    }
  }
}

}  // namespace dorvane::host
