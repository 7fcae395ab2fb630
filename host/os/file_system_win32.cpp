// The system's part of whole-file writing on Windows: CREATE_NEW beside the target,
// FlushFileBuffers, then MoveFileExA without MOVEFILE_REPLACE_EXISTING, which refuses to replace a
// file, and whose MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "host/os/file_system.h"
#include "host/text/text.h"
#include "host/os/win32_error_text.h"

namespace dorvane::host {
namespace {

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::string lastErrorText() { return win32ErrorText(GetLastError()); }

// The folder part of `path`, with its final separator, or "" for a name alone. A drive's colon
// ends a folder too: "C:name" is "name" in drive C's current folder.
std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace

TemporaryFile::~TemporaryFile() {
  if (handleOf(file_) != INVALID_HANDLE_VALUE) CloseHandle(handleOf(file_));
  if (!path_.empty()) DeleteFileA(path_.c_str());
}

std::unique_ptr<TemporaryFile> TemporaryFile::createBeside(const std::string& target, std::string& reason) {
  const std::string name = target.substr(folderOf(target).size());
  if (name.empty() || name == "." || name == "..") {
    reason = win32ErrorText(ERROR_INVALID_NAME);
    return nullptr;
  }
  // Beside the target, so the rename stays on one volume. Other programs may write it by name
  // (gnuplot draws into it), so it is shared for writing; nobody else knows its name.
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string path = file_system::hiddenNameBeside(target, "tmp");
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      return std::unique_ptr<TemporaryFile>(new TemporaryFile(reinterpret_cast<std::intptr_t>(file), path, target));
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      reason = lastErrorText();
      return nullptr;
    }
  }
  reason = win32ErrorText(ERROR_FILE_EXISTS);
  return nullptr;
}

std::string TemporaryFile::write(std::string_view bytes) {
  constexpr std::size_t kLargestWrite = 1u << 30;
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kLargestWrite));
    if (!WriteFile(handleOf(file_), bytes.data(), chunk, &written, nullptr)) return cannotWrite(target_, lastErrorText());
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

std::string TemporaryFile::commit() {
  const bool flushed = FlushFileBuffers(handleOf(file_)) != 0;
  const DWORD flushError = GetLastError();
  const BOOL closed = CloseHandle(handleOf(file_));
  file_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  if (!flushed) return win32ErrorText(flushError);
  return closed ? std::string() : lastErrorText();
}

AppendingFile::~AppendingFile() { CloseHandle(handleOf(file_)); }

std::unique_ptr<AppendingFile> AppendingFile::open(const std::string& path, std::string& reason) {
  // GENERIC_WRITE, which FlushFileBuffers needs; append moves to the end before each write. Others
  // may read the file meanwhile, not write it.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = lastErrorText();
    return nullptr;
  }
  return std::unique_ptr<AppendingFile>(new AppendingFile(reinterpret_cast<std::intptr_t>(file), path));
}

std::string AppendingFile::append(std::string_view bytes) {
  constexpr std::size_t kLargestWrite = 1u << 30;
  if (!SetFilePointerEx(handleOf(file_), LARGE_INTEGER{}, nullptr, FILE_END)) return cannotWrite(path_, lastErrorText());
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kLargestWrite));
    if (!WriteFile(handleOf(file_), bytes.data(), chunk, &written, nullptr)) return cannotWrite(path_, lastErrorText());
    bytes.remove_prefix(written);
  }
  return FlushFileBuffers(handleOf(file_)) ? std::string() : cannotWrite(path_, lastErrorText());
}

namespace file_system {

Occupant occupantOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Occupant::None;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Occupant::Folder : Occupant::File;
}

std::string folderInTheWay() { return "a folder has this name"; }

std::string hiddenNameBeside(const std::string& path, std::string_view tag) {
  static std::atomic<unsigned> serial{0};
  const std::string folder = folderOf(path);
  return folder + "." + path.substr(folder.size()) + "." + std::string(tag) + "-" + std::to_string(GetCurrentProcessId()) +
         "-" + std::to_string(serial++);
}

std::string moveKeeping(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? std::string(kFileExists) : win32ErrorText(error);
}

std::string removeFile(const std::string& path) {
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ? std::string() : lastErrorText();
}

// MOVEFILE_WRITE_THROUGH has made each rename last already.
void syncFolderOf(const std::string&) {}

}  // namespace file_system
}  // namespace dorvane::host
