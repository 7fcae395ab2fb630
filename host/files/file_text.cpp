// The text the saved files share: exact numbers, safe JCAMP-DX labels, parameter lines.
#include "host/files/file_text.h"

#include <algorithm>
#include <charconv>

#include "host/files/interferogram_files.h"
#include "host/text/text.h"

namespace dorvane::host {

void appendNumber(std::string& text, double value) {
  char digits[32];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, error == std::errc{} ? end : digits);
}

std::string numberText(double value) {
  std::string text;
  appendNumber(text, value);
  return text;
}

std::string jcampNumberText(double value) {
  std::string text = numberText(value);
  std::replace(text.begin(), text.end(), 'e', 'E');
  return text;
}

void appendWhole(std::string& text, long long value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, error == std::errc{} ? end : digits);
}

std::string jcampValue(std::string_view text) {
  const std::string ascii = trimmed(printableAscii(text));
  std::string value;
  value.reserve(ascii.size());
  for (const char c : ascii) {
    if ((c == '#' || c == '$') && !value.empty() && value.back() == c) value += ' ';
    value += c;
  }
  return value;
}

void appendLabel(std::string& text, std::string_view name, std::string_view value) {
  std::string line = "##" + std::string(name) + "=" + std::string(value);
  if (line.size() > kJcampLineWidth) line.resize(kJcampLineWidth);
  text += trimmed(line);
  text += '\n';
}

void appendJcampOpening(std::string& text, std::string_view title, std::string_view dataType, std::string_view owner) {
  appendLabel(text, "TITLE", jcampValue(title));
  appendLabel(text, "JCAMP-DX", "4.24");
  appendLabel(text, "DATA TYPE", dataType);
  appendLabel(text, "ORIGIN", "dorvane");
  appendLabel(text, "OWNER", jcampValue(owner));
}

void appendCsvParameters(std::string& text, const std::vector<FileParameter>& parameters) {
  for (const FileParameter& parameter : parameters) {
    text += "# " + parameter.name + ": " + printableAscii(parameter.value);
    if (!parameter.unit.empty()) text += " " + parameter.unit;
    if (!parameter.note.empty()) text += " (" + parameter.note + ")";
    text += '\n';
  }
}

void appendJcampParameters(std::string& text, const std::vector<FileParameter>& parameters) {
  for (const FileParameter& parameter : parameters) {
    std::string name = "$" + parameter.name;
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
    std::string value = jcampValue(parameter.value);
    // The note is our own text, so its comment mark is meant.
    if (!parameter.note.empty()) value += " $$ " + parameter.note;
    appendLabel(text, name, value);
  }
}

}  // namespace dorvane::host
