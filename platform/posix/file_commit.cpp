// Durable writes on POSIX: flush the stdio buffer, then fsync the descriptor.
#include <unistd.h>

#include "platform/file_commit.h"

namespace dorvane::platform {

bool commitToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return fsync(fileno(file)) == 0;
}

}  // namespace dorvane::platform
