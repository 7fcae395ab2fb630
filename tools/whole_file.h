// Writing a file whole or not at all: a new file under a temporary name beside the target, filled,
// committed to the disk and renamed over the target (or beside nothing, when an existing file must
// stay). One source per system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dorvane::host {

class TemporaryFile;

// Fills the temporary file, itself or through another program that writes it by name; returns ""
// or the one-line error naming the target.
using FillTemporary = std::function<std::string(TemporaryFile& file)>;

// What becomes of a file already at the target: replaced, or kept and the write refused.
enum class Existing { Replace, Keep };

// The reason a write with Existing::Keep gives when the target is there, before or by the rename.
inline constexpr const char* kFileExists = "the file exists (--overwrite replaces it)";

// Creates the temporary file, lets `fill` write it, commits it to the disk and renames it to `path`
// (with Existing::Keep, only where no file stands: checked by the rename itself, so a file that
// appears meanwhile is kept too). Returns "" or the one-line error; the temporary file is gone
// either way (also when an allocation throws, which is all that can throw here).
std::string writeFileWhole(const std::string& path, Existing existing, const FillTemporary& fill);

// "cannot write PATH: REASON", the path as shownPath shows it: the line every failed save gives.
std::string cannotWrite(const std::string& path, const std::string& reason);

// The new file while it is filled, open for reading and writing. Only writeFileWhole makes one,
// and removes it unless it was renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  // Appends `bytes`; "" or the system's reason for the failure.
  std::string write(std::string_view bytes);
  // Up to `count` bytes from the start of the file as it stands, whoever wrote them.
  std::string readStart(std::size_t count);

 private:
  friend std::string writeFileWhole(const std::string& path, Existing existing, const FillTemporary& fill);

  TemporaryFile(std::intptr_t file, std::string path);  // a descriptor, or a Win32 HANDLE
  ~TemporaryFile();
  // Closing is the last chance to hear of a failed write (NFS, quotas): "" or the reason.
  std::string close();
  // Renamed into place: no longer removed.
  void keep() { path_.clear(); }

  std::intptr_t file_;
  std::string path_;
};

}  // namespace dorvane::host
