// Durable writes on Windows: flush the stdio buffer, then the runtime's _commit (FlushFileBuffers).
#include <io.h>

#include "platform/file_commit.h"

namespace dorvane::platform {

bool commitToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return _commit(_fileno(file)) == 0;
}

}  // namespace dorvane::platform
