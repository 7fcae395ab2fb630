// The system's own words for a Win32 error code, as the host's one-line errors quote them.
#pragma once

#include <string>

namespace dorvane::host {

// "Access is denied" for ERROR_ACCESS_DENIED: FormatMessageA's text on one line without its final
// period; "system error N" when the system has no text for the code.
std::string win32ErrorText(unsigned long code);

}  // namespace dorvane::host
