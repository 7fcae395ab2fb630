// Debug output on Linux goes to standard error, unbuffered, one write per line, but only when the
// environment variable DORVANE_DEBUG is set to a non-empty value: a host's stderr is its own.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/debug_output.h"

namespace dorvane::platform {
namespace {

class StandardErrorOutput final : public DebugOutput {
 public:
  void write(const char* text) override {
    // Read at every line, so a host may switch the lines on or off after loading the library.
    const char* wanted = std::getenv("DORVANE_DEBUG");
    if (wanted == nullptr || *wanted == '\0') return;
    const char* rest = text;
    std::size_t left = std::strlen(text);
    while (left > 0) {
      const ssize_t written = ::write(STDERR_FILENO, rest, left);
      if (written <= 0) return;  // nobody is listening; the line is dropped
      rest += written;
      left -= static_cast<std::size_t>(written);
    }
  }
};

}  // namespace

DebugOutput& systemDebugOutput() {
  static StandardErrorOutput output;
  return output;
}

}  // namespace dorvane::platform
