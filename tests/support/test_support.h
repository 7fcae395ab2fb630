// Small fixtures shared by the suites: a captured debug output, a scratch directory, and what a
// failed test leaves behind for a look.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace dorvane::testing {

class CapturedDebugOutput : public platform::DebugOutput {
 public:
  void write(const char* text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

// True once the running GoogleTest test has failed; false outside a test and in builds without
// GoogleTest (the fuzz targets).
bool currentTestFailed();
// Removes `path` with everything in it after a pass; after a failure keeps it and prints where, as
// "kept WHAT for a look: PATH".
void removeUnlessTestFailed(const std::filesystem::path& path, const char* what);

// A directory of its own under the system's temporary directory, which no other test or process
// shares (its name is taken by an atomic mkdir); removed with everything in it after a pass, kept
// after a failure (see removeUnlessTestFailed).
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `content` to a file in the directory and returns its full path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

// True when `wanted` appear in `lines` in this order (other lines may come between); a wanted line
// ending in '*' matches any line that starts with the rest.
bool linesInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted);

std::string readWholeFile(const std::filesystem::path& file);
// The file as a program reads it in text mode: the platform's line ends come back as '\n'.
std::string readTextFile(const std::filesystem::path& file);

}  // namespace dorvane::testing
