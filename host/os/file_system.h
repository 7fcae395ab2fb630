// The system's part of writing a file whole: a temporary file beside its target, committed to the
// disk, and a move into place that never replaces what is there. One source per system
// (file_system_posix.cpp, file_system_win32.cpp); the set's logic is host/files/whole_file.h's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace dorvane::host {

// The reason a move gives when its target is taken, and a set written with Existing::Keep too.
inline constexpr const char* kFileExists = "the file exists (--overwrite replaces it)";

// A file filled under a hidden name beside its target, open for reading and writing, and removed
// unless it was moved into place.
class TemporaryFile {
 public:
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  const std::string& path() const { return path_; }
  const std::string& target() const { return target_; }
  // Appends `bytes`; "" or "cannot write TARGET: REASON".
  std::string write(std::string_view bytes);
  // Up to `count` bytes from the start of the file as it stands, whoever wrote them.
  std::string readStart(std::size_t count);

  // What the file set (host/files/whole_file.h) does with its members' files.
  // A new empty file under a hidden name of its own beside `target`; null, and the system's
  // reason in `reason`, when none can be made.
  static std::unique_ptr<TemporaryFile> createBeside(const std::string& target, std::string& reason);
  // Commits the contents to the disk and closes the file (closing is the last chance to hear of a
  // failed write, on NFS or over a quota): "" or the reason.
  std::string commit();
  // Moved into place: no longer removed.
  void keep() { path_.clear(); }

 private:
  // `file`: a descriptor, or a Win32 HANDLE.
  TemporaryFile(std::intptr_t file, std::string path, std::string target)
      : file_(file), path_(std::move(path)), target_(std::move(target)) {}

  std::intptr_t file_;
  std::string path_;
  std::string target_;
};

// A file that grows at its end, each addition committed to the disk before append returns: what was
// added before a crash or a power cut stays (a table written a row at a time).
class AppendingFile {
 public:
  AppendingFile(const AppendingFile&) = delete;
  AppendingFile& operator=(const AppendingFile&) = delete;
  ~AppendingFile();

  // Opens the file at `path`, which exists; null, and the system's reason in `reason`, when it cannot.
  static std::unique_ptr<AppendingFile> open(const std::string& path, std::string& reason);
  // Adds `bytes` at the end and commits them: "" or "cannot write PATH: REASON".
  std::string append(std::string_view bytes);

 private:
  AppendingFile(std::intptr_t file, std::string path) : file_(file), path_(std::move(path)) {}

  std::intptr_t file_;  // a descriptor, or a Win32 HANDLE
  std::string path_;
};

// The rest of the system's part, for the file set.
namespace file_system {

enum class Occupant { None, File, Folder };
Occupant occupantOf(const std::string& path);
// The system's words for a folder where a file belongs.
std::string folderInTheWay();
// A hidden name beside `path` for a copy of it: ".NAME.TAG-PROCESS-SERIAL", new at each call.
std::string hiddenNameBeside(const std::string& path, std::string_view tag);
// Renames `from` to `to` unless something stands at `to`: "", kFileExists, or the system's reason.
std::string moveKeeping(const std::string& from, const std::string& to);
// "" or the system's reason.
std::string removeFile(const std::string& path);
// Makes the renames in `path`'s folder last, where the system needs a call of its own for that.
void syncFolderOf(const std::string& path);

}  // namespace file_system
}  // namespace dorvane::host
