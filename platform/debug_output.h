// The debugger output: a channel for the few lines that must be seen even while the log is off.
#pragma once

namespace dorvane::platform {

class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  // Writes the text as it stands; the caller supplies the line end.
  virtual void write(const char* text) = 0;
};

// OutputDebugStringA on Windows; on Linux standard error, while DORVANE_DEBUG is set (not empty).
DebugOutput& systemDebugOutput();

}  // namespace dorvane::platform
