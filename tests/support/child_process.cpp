#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/support/test_support.h"

extern char** environ;

namespace dorvane::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
  // A file no other program's stderr shares: mkstemp makes the name and the file in one step.
  std::string name = (std::filesystem::temp_directory_path() / "dorvane-child-stderr-XXXXXX").string();
  const int errors = ::mkostemp(name.data(), O_CLOEXEC);
  if (errors < 0) throw std::runtime_error("mkostemp: " + std::string(std::strerror(errno)));
  errorsPath_ = name;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(errors);
    throw std::runtime_error("pipe2");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errors, STDERR_FILENO);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> variables(environment);
  for (char** entry = environ; *entry != nullptr; ++entry) variables.emplace_back(*entry);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  // A process group of its own, as a shell gives a job: sendToGroup then acts as the terminal does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(errors);
  out_ = out[0];
  if (spawned != 0) {
    pid_ = -1;
    ::close(out_);
    std::filesystem::remove(errorsPath_);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
  ::close(out_);
  removeUnlessTestFailed(errorsPath_, "the program's standard error");
}

bool ChildProcess::fill(int timeoutMs) {
  pollfd readable{out_, POLLIN, 0};
  if (::poll(&readable, 1, timeoutMs) != 1) return false;
  char buffer[4096];
  const ssize_t got = ::read(out_, buffer, sizeof buffer);
  if (got <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

std::string ChildProcess::readLine(int timeoutMs) {
  for (;;) {
    const std::size_t end = output_.find('\n', lineStart_);
    if (end != std::string::npos) {
      std::string line = output_.substr(lineStart_, end - lineStart_);
      lineStart_ = end + 1;
      return line;
    }
    if (!fill(timeoutMs)) return {};
  }
}

bool ChildProcess::readUntilLineWith(const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const std::size_t before = lineStart_;
    const std::string line = readLine(static_cast<int>(left.count()));
    if (line.find(text) != std::string::npos) return true;
    if (line.empty() && lineStart_ == before) return false;
  }
}

void ChildProcess::send(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

void ChildProcess::sendToGroup(int signal) {
  if (pid_ > 0) ::kill(-pid_, signal);
}

int ChildProcess::wait() {
  while (fill(-1)) {
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  exitedNormally_ = WIFEXITED(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ChildProcess::errors() const {
  std::ifstream file(errorsPath_);
  return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace dorvane::testing
