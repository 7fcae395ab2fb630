// The text that the host's saved files share, interferograms and spectra alike: numbers that read
// back exactly, JCAMP-DX labels that no text can break, and the parameter lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/files/whole_file.h"

namespace dorvane::host {

inline constexpr std::size_t kJcampLineWidth = 80;

// Shortest text that reads back as the same double (std::to_chars' guarantee); "-0" keeps the sign.
void appendNumber(std::string& text, double value);
std::string numberText(double value);
// The same with a capital E, as JCAMP-DX writes exponents.
std::string jcampNumberText(double value);
void appendWhole(std::string& text, long long value);

// A label's value on one line that no reader takes for more: "##" would start a label and "$$" a
// comment wherever they stand, so each pair is split with a space.
std::string jcampValue(std::string_view text);
// "##NAME=value", cut to the line width.
void appendLabel(std::string& text, std::string_view name, std::string_view value);
// The labels every file of dorvane's opens with: TITLE, JCAMP-DX, DATA TYPE, ORIGIN and OWNER (the
// operator, or empty when none was named).
void appendJcampOpening(std::string& text, std::string_view title, std::string_view dataType, std::string_view owner = {});

// A processing or sampling parameter, written as "# name: value unit (note)" in CSV and as
// "##$NAME=value $$ note" in JCAMP-DX, where the value stays a plain number for readers.
struct FileParameter {
  std::string name;   // lower case, e.g. "laser wavenumber"
  std::string value;  // e.g. "15798"
  std::string unit;   // e.g. "cm-1"; may be empty
  std::string note;   // e.g. why the value is what it is; may be empty
};
void appendCsvParameters(std::string& text, const std::vector<FileParameter>& parameters);
void appendJcampParameters(std::string& text, const std::vector<FileParameter>& parameters);

}  // namespace dorvane::host
