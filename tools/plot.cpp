// The PNG plot: gnuplot started without a shell, its script fed through a socket, its chatter kept
// in a scratch file and shown only when it fails.
#include "tools/plot.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>

extern char** environ;

namespace dorvane::host {
namespace {

constexpr const char* kNoPlotter = "gnuplot is not installed: no plot drawn (install gnuplot-nox)";
constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string cannotDraw(const std::string& path, const std::string& reason) {
  return "cannot draw " + shownPath(path) + ": " + reason;
}

// For a failure that threw (in practice std::bad_alloc); when even its line cannot be built, a line
// short enough to need no memory.
PlotResult thrownFailure(const std::string& path, const std::exception& thrown) noexcept {
  try {
    return {PlotOutcome::Failed, cannotDraw(path, thrown.what())};
  } catch (...) {
    return {PlotOutcome::Failed, "out of memory"};
  }
}

// Looked up at every call, as execvp would, so a PATH changed since start-up counts.
std::optional<std::string> findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    // An empty entry would mean the current folder: never run a gnuplot that happens to lie there.
    if (!folder.empty()) {
      const std::string candidate = std::string(folder) + "/" + program;
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

// A gnuplot single-quoted string takes everything literally except the quote, written twice.
std::string quoted(std::string_view text) {
  std::string result = "'";
  for (const char c : text) {
    result += c;
    if (c == '\'') result += '\'';
  }
  return result + "'";
}

std::string script(const InterferogramRecord& record, const std::string& outputPath) {
  std::string title = printableAscii(record.title);
  if (const std::string time = recordTimeText(record); !time.empty()) title += ", " + time;

  // noenhanced: a title is text, not markup ('_' and '^' would become sub- and superscripts).
  std::string text = "set terminal pngcairo noenhanced size 1200,700\n";
  text += "set output " + quoted(outputPath) + "\n";
  text += "set title " + quoted(title) + "\n";
  text += "set xlabel 'point'\nset ylabel 'volts (V)'\nset grid\n";
  text += "plot '-' with lines notitle\n";
  text.reserve(text.size() + record.volts.size() * 26 + 32);
  char digits[32];
  for (const double value : record.volts) {
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, error == std::errc{} ? end : digits);
    text += '\n';
  }
  text += "e\nunset output\nquit\n";
  return text;
}

// gnuplot echoes the failing command and points at it with '^' before saying what went wrong; the
// first line of that, with its padding squeezed out.
std::string firstComplaint(int errors) {
  char chunk[4096];
  const ssize_t got = ::pread(errors, chunk, sizeof chunk, 0);
  std::string_view rest(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string line = printableAscii(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    std::string compact;
    for (const char c : line) {
      if (c != ' ' || (!compact.empty() && compact.back() != ' ')) compact += c;
    }
    if (!compact.empty() && compact.back() == ' ') compact.pop_back();
    if (compact.empty() || compact == "^" || compact.starts_with("gnuplot>")) continue;
    return compact;
  }
  return {};
}

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

// Runs gnuplot on the script; "" once it has written a PNG into `file`.
std::string runGnuplot(const std::string& gnuplot, const std::string& script, int file,
                       const std::string& pngPath) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    return cannotDraw(pngPath, std::strerror(errno));
  }
  Descriptor ours(ends[0]);
  Descriptor theirs(ends[1]);
  // A file, not a pipe: gnuplot blocked on a full pipe of complaints would stop reading the script.
  std::FILE* errorsFile = std::tmpfile();
  if (errorsFile == nullptr) return cannotDraw(pngPath, std::strerror(errno));
  const Descriptor errors(::dup(fileno(errorsFile)));
  std::fclose(errorsFile);
  if (errors.get() < 0) return cannotDraw(pngPath, std::strerror(errno));
  ::fcntl(errors.get(), F_SETFD, FD_CLOEXEC);

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), STDIN_FILENO);
  // Told to write somewhere it cannot, gnuplot falls back to stdout: never the user's terminal.
  posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), errors.get(), STDERR_FILENO);
  char* argv[] = {const_cast<char*>(gnuplot.c_str()), nullptr};
  pid_t child = 0;
  if (const int error = posix_spawn(&child, gnuplot.c_str(), actions.get(), nullptr, argv, environ);
      error != 0) {
    return cannotDraw(pngPath, "cannot start " + gnuplot + ": " + std::strerror(error));
  }
  theirs.reset();
  // A write that fails means gnuplot has quit; its status and complaint below say why.
  sendAll(ours.get(), script);
  ours.reset();

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return cannotDraw(pngPath, std::strerror(errno));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string reason = firstComplaint(errors.get());
    if (reason.empty()) {
      reason = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                 : "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return cannotDraw(pngPath, "gnuplot: " + reason);
  }

  unsigned char signature[sizeof kPngSignature] = {};
  if (::pread(file, signature, sizeof signature, 0) != static_cast<ssize_t>(sizeof signature) ||
      std::memcmp(signature, kPngSignature, sizeof signature) != 0) {
    return cannotDraw(pngPath, "gnuplot wrote no PNG");
  }
  return {};
}

}  // namespace

PlotResult plotPng(const InterferogramRecord& record, const std::string& pngPath) {
  try {
    const std::optional<std::string> gnuplot = findOnPath("gnuplot");
    if (!gnuplot) return {PlotOutcome::NoPlotter, kNoPlotter};
    if (record.volts.empty())
      return {PlotOutcome::Failed, cannotDraw(pngPath, "the interferogram has no points")};
    // gnuplot reads its commands line by line: a line break in the name would end one early.
    if (shownPath(pngPath) != pngPath) {
      return {PlotOutcome::Failed, cannotDraw(pngPath, "the name holds control characters")};
    }
    const std::string failure = replaceFileWhole(pngPath, [&](int file, const std::string& temporaryPath) {
      return runGnuplot(*gnuplot, script(record, temporaryPath), file, pngPath);
    });
    if (!failure.empty()) return {PlotOutcome::Failed, failure};
    return {PlotOutcome::Drawn, ""};
  } catch (const std::exception& thrown) {
    return thrownFailure(pngPath, thrown);
  }
}

}  // namespace dorvane::host
