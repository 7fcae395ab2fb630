// Placeholder until the digest lands.
#pragma once
#include <string>
namespace dorvane::host {
struct FileDigest {
  std::string hex, failure;
};
FileDigest sha256OfFile(const std::string& path);
}  // namespace dorvane::host
