// Debug output on Linux goes to standard error, unbuffered, one write per line.
#include <unistd.h>

#include <cstring>

#include "platform/debug_output.h"

namespace dorvane::platform {
namespace {

class StandardErrorOutput final : public DebugOutput {
 public:
  void write(const char* text) override {
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
