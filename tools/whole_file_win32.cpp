// Whole-file writing on Windows: CREATE_NEW beside the target, FlushFileBuffers, then MoveFileExA,
// whose MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk; without
// MOVEFILE_REPLACE_EXISTING it keeps a file that stands at the target.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "tools/whole_file.h"
#include "tools/win32_error_text.h"

namespace dorvane::host {
namespace {

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::string lastErrorText() { return win32ErrorText(GetLastError()); }

}  // namespace

TemporaryFile::TemporaryFile(std::intptr_t file, std::string path) : file_(file), path_(std::move(path)) {}

TemporaryFile::~TemporaryFile() {
  if (handleOf(file_) != INVALID_HANDLE_VALUE) CloseHandle(handleOf(file_));
  if (!path_.empty()) DeleteFileA(path_.c_str());
}

std::string TemporaryFile::write(std::string_view bytes) {
  constexpr std::size_t kLargestWrite = 1u << 30;
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kLargestWrite));
    if (!WriteFile(handleOf(file_), bytes.data(), chunk, &written, nullptr)) return lastErrorText();
    bytes.remove_prefix(written);
  }
  return {};
}

std::string TemporaryFile::readStart(std::size_t count) {
  std::string bytes(count, '\0');
  OVERLAPPED fromTheStart{};  // on a synchronous handle: the offset to read at, nothing more
  DWORD got = 0;
  if (!ReadFile(handleOf(file_), bytes.data(), static_cast<DWORD>(count), &got, &fromTheStart)) got = 0;
  bytes.resize(got);
  return bytes;
}

std::string TemporaryFile::close() {
  const BOOL closed = CloseHandle(handleOf(file_));
  file_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  return closed ? std::string() : lastErrorText();
}

std::string writeFileWhole(const std::string& path, Existing existing, const FillTemporary& fill) {
  // A drive's colon ends a folder too: "C:name" is "name" in drive C's current folder.
  const std::size_t separator = path.find_last_of("\\/:");
  const std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
  const std::string name = path.substr(folder.size());
  if (name.empty() || name == "." || name == "..") return cannotWrite(path, win32ErrorText(ERROR_INVALID_NAME));

  // Beside the target, so the rename stays on one volume. Other programs may write it by name
  // (gnuplot draws into it), so it is shared for writing; nobody else knows its name.
  static std::atomic<unsigned> serial{0};
  constexpr int kAttempts = 100;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string temporaryPath;
  for (int attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
    if (attempt == kAttempts) return cannotWrite(path, win32ErrorText(ERROR_FILE_EXISTS));
    temporaryPath = folder + "." + name + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(serial++);
    file = CreateFileA(temporaryPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      return cannotWrite(path, lastErrorText());
    }
  }
  TemporaryFile temporary(reinterpret_cast<std::intptr_t>(file), temporaryPath);

  std::string failure = fill(temporary);
  if (!failure.empty()) return failure;
  if (!FlushFileBuffers(file)) return cannotWrite(path, lastErrorText());
  if (const std::string reason = temporary.close(); !reason.empty()) return cannotWrite(path, reason);
  const DWORD replace = existing == Existing::Replace ? MOVEFILE_REPLACE_EXISTING : 0;
  if (!MoveFileExA(temporaryPath.c_str(), path.c_str(), replace | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    const bool kept = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return cannotWrite(path, kept && existing == Existing::Keep ? std::string(kFileExists) : win32ErrorText(error));
  }
  temporary.keep();
  return {};
}

}  // namespace dorvane::host
