// debugPrint: one formatted line to the debugger output, whether the log is on or off.
#pragma once

#include <cstdarg>

#include "platform/debug_output.h"
#include "runtime/printf_format.h"

namespace dorvane::runtime {

// Formats into a 1024-byte buffer keeping at most 1022 characters, appends "\n" and writes the
// result. Returns the number of characters formatted, or a negative value when the text was cut.
int debugPrint(platform::DebugOutput& output, const char* format, ...) DORVANE_PRINTF_FORMAT(2, 3);
int debugPrintV(platform::DebugOutput& output, const char* format, std::va_list arguments);

}  // namespace dorvane::runtime
