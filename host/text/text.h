// Text for people: names and words as the host's lines show them, whatever bytes a file name or a
// bench sent. No I/O; every other part of the host may use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvane::host {

// A file name as an error line shows it: a line break in it must not make two lines.
std::string shownPath(std::string path);
// The last part of a path: "run-001.csv" of "data/run-001.csv".
std::string fileName(const std::string& path);

// `text` as one line of printable ASCII: control characters become spaces, other bytes '?'.
std::string printableAscii(std::string_view text);
// Without the spaces at either end.
std::string trimmed(std::string_view text);

// "1 file", "3 files": a count and its noun, plural but for one.
std::string counted(std::int64_t count, const std::string& noun);

// "cannot write PATH: REASON", the path as shownPath shows it: the line every failed save gives.
std::string cannotWrite(const std::string& path, const std::string& reason);

}  // namespace dorvane::host
