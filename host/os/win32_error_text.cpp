// FormatMessageA's text for a Win32 error code, trimmed to fit inside one line of ours.
#include <windows.h>

#include "host/os/win32_error_text.h"

namespace dorvane::host {

std::string win32ErrorText(unsigned long code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, sizeof text, nullptr);
  std::string line(text, length);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '.')) line.pop_back();
  return line.empty() ? "system error " + std::to_string(code) : line;
}

}  // namespace dorvane::host
