// Writing a file whole or not at all: a new file under a temporary name beside the target, filled,
// committed to the disk and renamed over the target. One source per system.
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

// Creates the temporary file, lets `fill` write it, commits it to the disk and renames it over
// `path`. Returns "" or the one-line error; the temporary file is gone either way (also when an
// allocation throws, which is all that can throw here).
std::string replaceFileWhole(const std::string& path, const FillTemporary& fill);

// "cannot write PATH: REASON", the path as shownPath shows it: the line every failed save gives.
std::string cannotWrite(const std::string& path, const std::string& reason);

// The new file while it is filled, open for reading and writing. Only replaceFileWhole makes one,
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
  friend std::string replaceFileWhole(const std::string& path, const FillTemporary& fill);

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
