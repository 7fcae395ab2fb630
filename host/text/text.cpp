#include "host/text/text.h"

#include <filesystem>

namespace dorvane::host {

std::string shownPath(std::string path) {
  for (char& c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return path;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string printableAscii(std::string_view text) {
  std::string printable(text);
  for (char& c : printable) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      c = ' ';
    else if (byte > 0x7F)
      c = '?';
  }
  return printable;
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string counted(std::int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string cannotWrite(const std::string& path, const std::string& reason) {
  return "cannot write " + shownPath(path) + ": " + reason;
}

}  // namespace dorvane::host
