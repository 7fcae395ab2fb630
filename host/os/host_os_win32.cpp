// The host's system services on Windows: a Win32 auto-reset event for the co-add event, a console
// control handler that turns Ctrl-C into an event a wait can watch, and the module paths.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/os/win32_error_text.h"

namespace dorvane::host {
namespace {

std::atomic<int> stopRequests{0};
std::atomic<DWORD> firstControl{0};
// Auto-reset, set once per request: a wait that lets the first request pass must not wake again for it.
HANDLE stopEvent = nullptr;

CRITICAL_SECTION noticeLock;
StopNotice currentNotice;

std::string systemError(const std::string& what) { return what + ": " + win32ErrorText(GetLastError()); }

// The handler runs on a thread of its own, so the notice shows while the main thread is in the driver.
void showNotice(int count) {
  std::string line = kPlainNotice;
  EnterCriticalSection(&noticeLock);
  if (currentNotice) line = currentNotice(count);
  LeaveCriticalSection(&noticeLock);
  if (line.empty()) return;
  line = "\r\033[Kdorvane: " + line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

BOOL WINAPI onConsoleControl(DWORD control) {
  if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT && control != CTRL_CLOSE_EVENT) return FALSE;
  DWORD none = 0;
  firstControl.compare_exchange_strong(none, control + 1);
  const int count = ++stopRequests;
  // The notice first: the main thread may end the program as soon as the event wakes it.
  showNotice(count);
  SetEvent(stopEvent);
  // A closed console ends the process as soon as this handler returns. Waiting here gives the main
  // thread the time to stop the acquisition and close the port; its exit, or the system's own limit
  // of a few seconds, ends the wait.
  if (control == CTRL_CLOSE_EVENT) Sleep(INFINITE);
  return TRUE;
}

HANDLE eventOf(long long event) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(event)); }

std::string folderOf(const char* file) { return std::filesystem::path(file).parent_path().string(); }

}  // namespace

void catchStopRequests() {
  if (stopEvent != nullptr) return;
  InitializeCriticalSection(&noticeLock);
  stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (stopEvent == nullptr) throw HostFailure(systemError("cannot create the stop event"));
  if (!SetConsoleCtrlHandler(onConsoleControl, TRUE)) throw HostFailure(systemError("cannot catch Ctrl-C"));
}

bool stopRequested() { return stopRequests > 0; }

int stopRequestCount() { return stopRequests; }

StopCause stopCause() {
  switch (firstControl.load()) {
    case CTRL_BREAK_EVENT + 1: return {"Ctrl-Break", kExitStopped};
    case CTRL_CLOSE_EVENT + 1: return {"the console window closing", kExitStopped};
    default: return {"Ctrl-C", kExitStopped};
  }
}

// The handler shows its notice before it wakes the main thread.
void awaitStopNotices() {}

void setStopNotice(StopNotice notice) {
  if (stopEvent == nullptr) return;  // nothing can ask for a stop before catchStopRequests
  EnterCriticalSection(&noticeLock);
  currentNotice = std::move(notice);
  LeaveCriticalSection(&noticeLock);
}

CompletionEvent::CompletionEvent()
    : event_(static_cast<long long>(reinterpret_cast<std::intptr_t>(CreateEventA(nullptr, FALSE, FALSE, nullptr)))) {
  if (event_ == 0) throw HostFailure(systemError("cannot create the co-add event"));
}

CompletionEvent::~CompletionEvent() { CloseHandle(eventOf(event_)); }

dorvane_event_handle CompletionEvent::handle() const { return eventOf(event_); }

CompletionEvent::Wake CompletionEvent::wait(int timeoutMs, int stopsToWake) {
  if (stopRequests >= stopsToWake) return Wake::StopRequested;
  const HANDLE watched[2] = {eventOf(event_), stopEvent};
  const DWORD count = stopEvent != nullptr ? 2 : 1;
  const DWORD woken = WaitForMultipleObjects(count, watched, FALSE, static_cast<DWORD>(timeoutMs));
  if (stopRequests >= stopsToWake) return Wake::StopRequested;
  return woken == WAIT_OBJECT_0 ? Wake::Signalled : Wake::TimedOut;
}

bool stdinIsTerminal() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  return input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != 0;
}

bool stdoutIsTerminal() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == nullptr || output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
  // The progress line redraws itself with escape sequences, which a console before Windows 10 prints
  // as they are: such a console gets a line per file instead.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string programFolder() {
  char name[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string(".") : folderOf(name);
}

std::string driverLibraryPath() {
  HMODULE library = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&spectrometer_open), &library)) {
    return {};
  }
  char name[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(library, name, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(name, length);
}

std::vector<std::string> machineNames() {
  std::vector<std::string> names;
  for (const COMPUTER_NAME_FORMAT format : {ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
    char name[256] = {};  // DNS names are at most 255 bytes
    DWORD size = sizeof name;
    if (GetComputerNameExA(format, name, &size) && size > 0 && size < sizeof name &&
        (names.empty() || names.front() != name)) {
      names.emplace_back(name, size);
    }
  }
  return names;
}

// "\\.\COM3" is a name in the device namespace, which the file attributes do not see.
bool serialDeviceExists(const std::string& path) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (path.starts_with(kDevicePrefix)) {
    char target[512];
    return QueryDosDeviceA(path.substr(kDevicePrefix.size()).c_str(), target, sizeof target) != 0;
  }
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void setEnvironment(const std::string& name, const std::string& value) {
  if (!SetEnvironmentVariableA(name.c_str(), value.c_str())) throw HostFailure(systemError("cannot set " + name));
}

// The virtual bench serves a POSIX pseudo-terminal; a Windows host reaches one through a COM port.
VirtualBench::VirtualBench(const std::vector<std::string>&, const std::string&) {
  throw HostFailure(
      "the virtual bench runs on Linux: start 'dorvane sim' there, or map a COM port to its pseudo-terminal (under "
      "Wine: HKLM\\Software\\Wine\\Ports)");
}

VirtualBench::~VirtualBench() = default;

int VirtualBench::stop() { return 0; }

bool VirtualBench::waitWhileRunning() { return false; }

}  // namespace dorvane::host
