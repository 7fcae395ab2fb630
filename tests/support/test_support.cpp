// The shared fixtures.
#include "tests/support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#ifdef DORVANE_TEST_SUPPORT_GTEST
#include <gtest/gtest.h>
#endif

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

bool currentTestFailed() {
#ifdef DORVANE_TEST_SUPPORT_GTEST
  return ::testing::Test::HasFailure();
#else
  return false;
#endif
}

void removeUnlessTestFailed(const std::filesystem::path& path, const char* what) {
  if (currentTestFailed()) {
    std::fprintf(stderr, "kept %s for a look: %s\n", what, path.string().c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

namespace {

// The running test's name, so that a kept folder tells whose it was.
std::string testName() {
#ifdef DORVANE_TEST_SUPPORT_GTEST
  if (const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == ':'; }, '_');
    return name + "-";
  }
#endif
  return {};
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  const std::string prefix = "dorvane-test-" + testName();
  // The clock makes another process's names unlikely, and create_directory (mkdir) refuses one that
  // exists: a name in use, or a folder kept from an earlier run, is passed over.
  do {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = base / (prefix + std::to_string(now) + "-" + std::to_string(counter++));
  } while (!std::filesystem::create_directory(path_));
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  removeUnlessTestFailed(path_, "the test's folder");
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
