// Writing a set of files whole or not at all: each member is filled under a temporary name beside
// its target and committed to the disk, and only when every member is complete are they all moved
// into place. A set that fails half-way is taken back, so the files stand as they stood before. A
// single file is a set of one. The set's logic is whole_file.cpp; the calls to the system are
// whole_file_posix.cpp and whole_file_win32.cpp.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::host {

class TemporaryFile;

// Fills the temporary file, itself or through another program that writes it by name; returns ""
// or the one-line error naming the target.
using FillTemporary = std::function<std::string(TemporaryFile& file)>;

struct FileSetMember {
  std::string path;  // the target
  FillTemporary fill;
};

// What becomes of files already at the set's names: replaced, or kept and the set refused.
enum class Existing { Replace, Keep };

// The reason a set written with Existing::Keep gives when one of its names is taken.
inline constexpr const char* kFileExists = "the file exists (--overwrite replaces it)";

// Writes the set. `leftOut` names the set's files that this write has no member for (a PNG not
// drawn this time): they count as names of the set all the same, so that no file of an old set
// stays beside the new one. With Existing::Keep nothing is written when any name of the set holds
// a file (checked again by the moves themselves, which never replace, so a file that appears
// meanwhile is kept too). With Existing::Replace the files at the set's names are set aside, the
// new members moved in, and what was set aside removed; a folder at a name refuses the set either
// way. Returns "" or the one line of the first failure, after which every name holds what it held
// before and no temporary file stays.
std::string writeFileSet(const std::vector<FileSetMember>& members, Existing existing,
                         const std::vector<std::string>& leftOut = {});

// "" or the line writeFileSet would refuse the names with as they stand now: a folder at one, or
// with Existing::Keep a file. For checking before work that would be lost to the refusal.
std::string nameInTheWay(const std::vector<std::string>& names, Existing existing);

// "" when a new file can be made in `folder`, else the system's reason; nothing is left in it.
std::string folderRefusesFiles(const std::string& folder);

// "cannot write PATH: REASON", the path as shownPath shows it: the line every failed save gives.
std::string cannotWrite(const std::string& path, const std::string& reason);

// For a failure that threw (in practice std::bad_alloc); when even its line cannot be built, a line
// short enough to need no memory.
std::string thrownFailure(const std::string& path, const std::exception& thrown) noexcept;

// A member's file while it is filled, open for reading and writing. Only writeFileSet makes one,
// and removes it unless it was moved into place.
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

 private:
  friend std::string writeFileSet(const std::vector<FileSetMember>&, Existing, const std::vector<std::string>&);
  friend std::string folderRefusesFiles(const std::string& folder);

  // The system's part, one source per system.
  TemporaryFile(std::intptr_t file, std::string path, std::string target);  // a descriptor, or a Win32 HANDLE
  // A new empty file under a hidden name of its own beside `target`; null, and the system's
  // reason in `reason`, when none can be made.
  static std::unique_ptr<TemporaryFile> createBeside(const std::string& target, std::string& reason);
  // Commits the contents to the disk and closes the file (closing is the last chance to hear of a
  // failed write, on NFS or over a quota): "" or the reason.
  std::string commit();
  // Moved into place: no longer removed.
  void keep() { path_.clear(); }

  std::intptr_t file_;
  std::string path_;
  std::string target_;
};

// The rest of the system's part (one source per system), for whole_file.cpp alone.
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
