// The link fixture's log reader and packet builders.
#include "tests/link/link_fixture.h"

#include <algorithm>
#include <sstream>

namespace dorvane::testing {

std::vector<std::string> LinkTest::logLines() const {
  std::vector<std::string> lines;
  std::istringstream text(readTextFile(scratch.path() / runtime::kLogFileName));
  // Each line starts with "[MM-DD hh:mm:ss]" and two spaces.
  for (std::string line; std::getline(text, line);) lines.push_back(line.size() >= 18 ? line.substr(18) : line);
  return lines;
}

int LinkTest::logCount(const std::string& line) const {
  const auto lines = logLines();
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace dorvane::testing
