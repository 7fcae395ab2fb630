#include "tests/host/saved_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#include "tests/support/test_support.h"

namespace dorvane::testing {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* was = std::getenv(name_.c_str())) saved_ = was;
  ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  saved_ ? ::setenv(name_.c_str(), saved_->c_str(), 1) : ::unsetenv(name_.c_str());
}

namespace fs = std::filesystem;

std::vector<double> csvValues(const std::string& path) {
  std::ifstream file(path);
  std::vector<double> values;
  std::string line;
  bool header = true;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      if (line != "index,volts") return {};
      continue;
    }
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos || std::stoul(line.substr(0, comma)) != values.size()) return {};
    values.push_back(std::strtod(line.c_str() + comma + 1, nullptr));
  }
  return values;
}

CsvSpectrum csvSpectrum(const std::string& path) {
  std::ifstream file(path);
  CsvSpectrum spectrum;
  std::string line;
  while (std::getline(file, line) && line.starts_with("#")) {
  }
  if (line != "wavenumber,value") return {};
  while (std::getline(file, line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) return {};
    spectrum.wavenumbers.push_back(std::strtod(line.c_str(), nullptr));
    spectrum.values.push_back(comma + 1 == line.size() ? NAN : std::strtod(line.c_str() + comma + 1, nullptr));
  }
  return spectrum;
}

JcampReading readWithJcampconverter(const std::string& file) {
  const fs::path script = DORVANE_JCAMP_READER;
  const std::string install = "install it with: npm ci --prefix tests/host/jcamp_reader";
  if (!fs::exists(script.parent_path() / "node_modules" / "jcampconverter")) {
    return {"jcampconverter is not installed; " + install, {}, {}, {}, {}};
  }
  std::FILE* pipe = ::popen(("node '" + script.string() + "' '" + file + "' 2>&1").c_str(), "r");
  std::string output;
  char chunk[65536];
  for (std::size_t got; pipe != nullptr && (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, got);
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  JcampReading reading{"", {}, {}, {}, {}};
  std::istringstream text(output);
  for (std::string line; std::getline(text, line);) reading.lines.push_back(line);
  if (status != 0 || reading.lines.size() < 4) {
    reading.failure = WIFEXITED(status) && WEXITSTATUS(status) == 127
                          ? "node is not installed (Node.js 20 or later); then " + install
                          : "read_jcamp.mjs failed: " + output;
    return reading;
  }
  const std::size_t points = std::strtoul(reading.lines[0].c_str(), nullptr, 10);
  if (reading.lines.size() < 4 + 2 * points) {
    reading.failure = "read_jcamp.mjs printed " + std::to_string(reading.lines.size()) + " lines for " + reading.lines[0] + " points";
    return reading;
  }
  for (std::size_t i = 0; i < points; ++i) {
    reading.values.push_back(std::strtod(reading.lines[4 + i].c_str(), nullptr));
    reading.xs.push_back(std::strtod(reading.lines[4 + points + i].c_str(), nullptr));
  }
  for (std::size_t i = 4 + 2 * points; i < reading.lines.size(); ++i) {
    const std::size_t equals = reading.lines[i].find('=');
    reading.labels[reading.lines[i].substr(0, equals)] = equals == std::string::npos ? "" : reading.lines[i].substr(equals + 1);
  }
  return reading;
}

std::vector<double> jcampValues(const std::string& path) {
  const JcampReading reading = readWithJcampconverter(path);
  if (!reading.failure.empty()) ADD_FAILURE() << path << ": " << reading.failure;
  return reading.values;
}

bool isPng(const std::string& path) {
  const std::string bytes = readWholeFile(path);
  return bytes.size() > 1000 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

}  // namespace dorvane::testing
