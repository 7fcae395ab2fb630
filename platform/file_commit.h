// Making a written stream durable: the log promises that every line is on the disk before print returns.
#pragma once

#include <cstdio>

namespace dorvane::platform {

// Flushes the stream's buffer and commits the file to the disk (fsync, or the runtime's _commit).
// Returns false when either step failed.
bool commitToDisk(std::FILE* file);

}  // namespace dorvane::platform
