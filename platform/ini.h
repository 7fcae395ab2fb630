// The INI reader: the results of GetPrivateProfileIntA, from our own parser on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::platform {

// Reads `key` of `section` in the INI file at `path` as an integer, as GetPrivateProfileIntA does:
// section and key names compare without regard to case, blanks around names and values are ignored,
// the value is its leading decimal integer with an optional sign (0 when it has none, wrapping modulo
// 2^32 when it is too long). A missing file, section or key, or an empty value, gives `defaultValue`.
// A relative path is taken from the current directory.
std::int32_t readProfileInt(const char* section, const char* key, std::int32_t defaultValue,
                            const char* path);

// One `key=value` line of a section as the reader above finds it: names and values trimmed, the
// value unquoted, and the file's line number (from 1) for messages.
struct ProfileEntry {
  std::string key;
  std::string value;
  bool hasValue = false;  // false for a line with a name and no '='
  int line = 0;
};

// Every entry of `section` in the file's order (a key may appear twice: readProfileInt takes the
// first). None when the file cannot be opened.
std::optional<std::vector<ProfileEntry>> readProfileSection(const char* section, const char* path);

}  // namespace dorvane::platform
