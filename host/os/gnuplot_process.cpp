// What both systems' gnuplot runs share: reading its complaints.
#include "host/os/gnuplot_process.h"

#include "host/text/text.h"

namespace dorvane::host {
namespace {

// gnuplot echoes the failing command and points at it with '^' before saying what went wrong; the
// first line of that, with its padding squeezed out.
std::string firstComplaint(std::string_view rest) {
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string line = printableAscii(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    std::string compact;
    for (const char c : line) {
      if (c != ' ' || (!compact.empty() && compact.back() != ' ')) compact += c;
    }
    if (!compact.empty() && compact.back() == ' ') compact.pop_back();
    if (compact.empty() || compact == "^" || compact.starts_with("gnuplot>")) continue;
    return compact;
  }
  return {};
}

}  // namespace

std::string gnuplotFailure(std::string_view errorOutput, const std::string& exitStatus) {
  const std::string complaint = firstComplaint(errorOutput);
  return "gnuplot: " + (complaint.empty() ? exitStatus : complaint);
}

}  // namespace dorvane::host
