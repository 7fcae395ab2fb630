// Reading back what the host saved: CSV by hand, JCAMP-DX with an independent reader (the npm
// package jcampconverter, run by Node), PNG by its signature.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::testing {

// An environment variable set to `value` while this lives, then as it was.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, const std::string& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// What read_jcamp.mjs prints, one item a line: the number of points, the data type, the number of
// data blocks, the last abscissa, then each value and each abscissa, then the labels it kept;
// `failure` says why there is nothing to read.
struct JcampReading {
  std::string failure;
  std::vector<std::string> lines;
  std::vector<double> values;
  std::vector<double> xs;
  std::map<std::string, std::string> labels;  // "TITLE", "OWNER", "$COMMENT", ...: the value, line breaks as "\n"
};
JcampReading readWithJcampconverter(const std::string& file);

// The volts column, checked for its running index; empty when the file is missing or malformed.
std::vector<double> csvValues(const std::string& path);
// A spectrum's CSV: the wavenumber,value columns, NaN where a value is left empty; empty when the
// file is missing or malformed.
struct CsvSpectrum {
  std::vector<double> wavenumbers, values;
};
CsvSpectrum csvSpectrum(const std::string& path);
// The Y values as jcampconverter reads them; empty (with a test failure) when it cannot.
std::vector<double> jcampValues(const std::string& path);
bool isPng(const std::string& path);

}  // namespace dorvane::testing
