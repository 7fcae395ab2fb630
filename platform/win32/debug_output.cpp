// Debug output on Windows goes to the debugger with OutputDebugStringA.
#include <windows.h>

#include "platform/debug_output.h"

namespace dorvane::platform {
namespace {

class DebuggerOutput final : public DebugOutput {
 public:
  void write(const char* text) override { OutputDebugStringA(text); }
};

}  // namespace

DebugOutput& systemDebugOutput() {
  static DebuggerOutput output;
  return output;
}

}  // namespace dorvane::platform
