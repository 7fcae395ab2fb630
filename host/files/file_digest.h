// SHA-256 (FIPS 180-4) of bytes and of files, as lowercase hex: what a filed report gives for each raw
// file it used. Our own, since the host builds for Linux and for the MinGW DLL's host alike and must
// not need a crypto library for this one digest.
#pragma once

#include <string>
#include <string_view>

namespace dorvane::host {

// The 64 hex digits of the SHA-256 of `bytes`.
std::string sha256Hex(std::string_view bytes);

// "" with `digest` set to the file's SHA-256 in hex, read in chunks (a file of any size), or
// "cannot read PATH: REASON" and `digest` left as it was.
std::string fileSha256Hex(const std::string& path, std::string& digest);

}  // namespace dorvane::host
