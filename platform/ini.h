// The INI reader: the results of GetPrivateProfileIntA, from our own parser on every platform.
#pragma once

#include <cstdint>

namespace dorvane::platform {

// Reads `key` of `section` in the INI file at `path` as an integer, as GetPrivateProfileIntA does:
// section and key names compare without regard to case, blanks around names and values are ignored,
// the value is its leading decimal integer with an optional sign (0 when it has none, wrapping modulo
// 2^32 when it is too long). A missing file, section or key, or an empty value, gives `defaultValue`.
// A relative path is taken from the current directory.
std::int32_t readProfileInt(const char* section, const char* key, std::int32_t defaultValue,
                            const char* path);

}  // namespace dorvane::platform
