// gnuplot on Windows: gnuplot.exe looked up on PATH with SearchPathA, started by CreateProcessA
// with a pipe for its script, its chatter kept in a scratch file that goes when it is closed.
#include <windows.h>

#include <vector>

#include "host/os/gnuplot_process.h"
#include "host/os/win32_error_text.h"

namespace dorvane::host {
namespace {

// As much of gnuplot's complaints as a failure line needs.
constexpr DWORD kComplaintBytes = 4096;

std::string lastErrorText() { return win32ErrorText(GetLastError()); }

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* receive() { return &handle_; }
  void reset() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

// One word of a command line as the C runtime splits it: in quotes, with the backslashes before a
// quote doubled. No shell reads it, so nothing else is special.
std::string commandLineWord(const std::string& word) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

// A scratch file for gnuplot's standard error, handed down to it and gone once both have closed it.
HANDLE newScratchFile(SECURITY_ATTRIBUTES& inherited) {
  char folder[MAX_PATH + 1] = {};
  char name[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "dvp", 0, name) == 0) return INVALID_HANDLE_VALUE;
  const HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherited, TRUNCATE_EXISTING, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileA(name);
    SetLastError(error);
  }
  return file;
}

}  // namespace

std::optional<std::string> findGnuplot() {
  const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (size == 0) return std::nullopt;
  std::vector<char> path(size);
  const DWORD length = GetEnvironmentVariableA("PATH", path.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  // Empty entries would mean the current folder: never run a gnuplot that happens to lie there.
  std::string folders;
  std::string_view rest(path.data(), length);
  while (!rest.empty()) {
    const std::size_t semicolon = rest.find(';');
    const std::string_view folder = rest.substr(0, semicolon);
    if (!folder.empty()) folders.append(folders.empty() ? "" : ";").append(folder);
    rest.remove_prefix(semicolon == std::string_view::npos ? rest.size() : semicolon + 1);
  }
  if (folders.empty()) return std::nullopt;
  char found[MAX_PATH + 1] = {};
  const DWORD foundLength = SearchPathA(folders.c_str(), "gnuplot.exe", nullptr, sizeof found, found, nullptr);
  if (foundLength == 0 || foundLength > MAX_PATH) return std::nullopt;
  const DWORD attributes = GetFileAttributesA(found);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  return std::string(found, foundLength);
}

std::string runGnuplot(const std::string& program, const std::string& script) {
  // Only the child's ends are inheritable, and only this thread starts programs.
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  OwnedHandle theirInput, ourInput;
  if (!CreatePipe(theirInput.receive(), ourInput.receive(), &inherited, 0) ||
      !SetHandleInformation(ourInput.get(), HANDLE_FLAG_INHERIT, 0)) {
    return lastErrorText();
  }
  // A file, not a pipe: gnuplot blocked on a full pipe of complaints would stop reading the script.
  const OwnedHandle errors(newScratchFile(inherited));
  if (errors.get() == nullptr) return lastErrorText();
  OwnedHandle nowhere(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (nowhere.get() == nullptr) return lastErrorText();

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = theirInput.get();
  startup.hStdOutput = nowhere.get();
  startup.hStdError = errors.get();
  std::string commandLine = commandLineWord(program);
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &started)) {
    return "cannot start " + program + ": " + lastErrorText();
  }
  const OwnedHandle process(started.hProcess);
  CloseHandle(started.hThread);
  theirInput.reset();
  nowhere.reset();

  // A write that fails means gnuplot has quit; its exit code and complaint below say why.
  std::string_view rest(script);
  DWORD written = 0;
  while (!rest.empty() && WriteFile(ourInput.get(), rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr)) {
    rest.remove_prefix(written);
  }
  ourInput.reset();

  DWORD exitCode = 0;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &exitCode)) {
    return lastErrorText();
  }
  if (exitCode == 0) return {};
  char complaints[kComplaintBytes];
  OVERLAPPED fromTheStart{};  // on a synchronous handle: the offset to read at, nothing more
  DWORD got = 0;
  if (!ReadFile(errors.get(), complaints, sizeof complaints, &got, &fromTheStart)) got = 0;
  return gnuplotFailure(std::string_view(complaints, got), "exit status " + std::to_string(exitCode));
}

}  // namespace dorvane::host
