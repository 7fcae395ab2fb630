// gnuplot on POSIX systems: looked up on PATH as execvp would, started by posix_spawn, its script
// fed through a socket, its chatter kept in a scratch file.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/os/gnuplot_process.h"

extern char** environ;

namespace dorvane::host {
namespace {

// As much of gnuplot's complaints as a failure line needs.
constexpr std::size_t kComplaintBytes = 4096;

int sendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a gnuplot that quits early must cost an error here, not the host's life.
    const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return 0;
}

class Descriptor {
 public:
  explicit Descriptor(int file = -1) : file_(file) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return file_; }
  void reset() {
    if (file_ >= 0) ::close(file_);
    file_ = -1;
  }

 private:
  int file_;
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace

std::optional<std::string> findGnuplot() {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    // An empty entry would mean the current folder: never run a gnuplot that happens to lie there.
    if (!folder.empty()) {
      const std::string candidate = std::string(folder) + "/gnuplot";
      struct stat status {};
      if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
          ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    if (colon == std::string_view::npos) return std::nullopt;
    folders.remove_prefix(colon + 1);
  }
}

std::string runGnuplot(const std::string& program, const std::string& script) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return std::strerror(errno);
  Descriptor ours(ends[0]);
  Descriptor theirs(ends[1]);
  // A file, not a pipe: gnuplot blocked on a full pipe of complaints would stop reading the script.
  std::FILE* errorsFile = std::tmpfile();
  if (errorsFile == nullptr) return std::strerror(errno);
  const Descriptor errors(::dup(fileno(errorsFile)));
  std::fclose(errorsFile);
  if (errors.get() < 0) return std::strerror(errno);
  ::fcntl(errors.get(), F_SETFD, FD_CLOEXEC);

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), STDIN_FILENO);
  posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), errors.get(), STDERR_FILENO);
  // A process group of its own: the terminal's Ctrl-C is the host's to handle, and a gnuplot that
  // received it would fail the plot of a file the host means to keep. The child joins its group
  // only after it has begun, so a Ctrl-C or SIGTERM sent to the host's group in that moment would
  // still reach it: gnuplot starts with both blocked.
  SpawnAttributes attributes;
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(attributes.get(), 0);
  sigset_t hostsSignals;
  sigemptyset(&hostsSignals);
  sigaddset(&hostsSignals, SIGINT);
  sigaddset(&hostsSignals, SIGTERM);
  posix_spawnattr_setsigmask(attributes.get(), &hostsSignals);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t child = 0;
  if (const int error = posix_spawn(&child, program.c_str(), actions.get(), attributes.get(), argv, environ); error != 0) {
    return "cannot start " + program + ": " + std::strerror(error);
  }
  theirs.reset();
  // A write that fails means gnuplot has quit; its status and complaint below say why.
  sendAll(ours.get(), script);
  ours.reset();

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::strerror(errno);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  char complaints[kComplaintBytes];
  const ssize_t got = ::pread(errors.get(), complaints, sizeof complaints, 0);
  return gnuplotFailure(std::string_view(complaints, got > 0 ? static_cast<std::size_t>(got) : 0),
                        WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                          : "killed by signal " + std::to_string(WTERMSIG(status)));
}

}  // namespace dorvane::host
