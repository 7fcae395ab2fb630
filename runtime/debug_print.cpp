// debugPrint: the small formatter in front of the debugger output.
#include "runtime/debug_print.h"

#include <cstdio>
#include <cstring>

namespace dorvane::runtime {
namespace {
constexpr int kBufferSize = 1024;
constexpr int kMaxCharacters = 1022;  // leaves room for the newline and the terminator
}  // namespace

int debugPrintV(platform::DebugOutput& output, const char* format, std::va_list arguments) {
  char buffer[kBufferSize];
  int result = std::vsnprintf(buffer, kMaxCharacters + 1, format, arguments);
  if (result < 0) {
    buffer[0] = '\0';
  } else if (result > kMaxCharacters) {
    result = -1;  // cut, as the formatter with a 1022-character limit reports it
  }
  const std::size_t length = std::strlen(buffer);
  buffer[length] = '\n';
  buffer[length + 1] = '\0';
  output.write(buffer);
  return result;
}

int debugPrint(platform::DebugOutput& output, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int result = debugPrintV(output, format, arguments);
  va_end(arguments);
  return result;
}

}  // namespace dorvane::runtime
