// The shared fixtures.
#include "tests/support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace dorvane::testing {

bool linesInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  auto at = lines.begin();
  for (const std::string& line : wanted) {
    const bool prefix = !line.empty() && line.back() == '*';
    const std::string_view text = prefix ? std::string_view(line).substr(0, line.size() - 1) : line;
    at = std::find_if(at, lines.end(), [&](const std::string& got) { return prefix ? got.starts_with(text) : got == text; });
    if (at == lines.end()) return false;
    ++at;
  }
  return true;
}

ScratchDirectory::ScratchDirectory() {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("dorvane-test-" + std::to_string(now) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDirectory::write(const std::string& name, const std::string& content) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << content;
  return file.string();
}

namespace {

std::string readAll(const std::filesystem::path& file, std::ios::openmode mode) {
  std::ifstream in(file, mode);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string readWholeFile(const std::filesystem::path& file) { return readAll(file, std::ios::binary); }

std::string readTextFile(const std::filesystem::path& file) { return readAll(file, std::ios::in); }

}  // namespace dorvane::testing
