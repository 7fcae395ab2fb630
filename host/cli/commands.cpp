// What the commands share.
#include "host/cli/commands.h"

#include "host/os/host_os.h"

namespace dorvane::host::cli {

ProcessingOptions ProcessingText::resolved() const {
  ProcessingOptions resolved = processing;
  if (!range.empty()) resolved.range = parseRange(range);
  resolved.ratio = ratio == "transmittance" ? SpectrumKind::Transmittance : SpectrumKind::Absorbance;
  return resolved;
}

int afterBenchCalls(int status) {
  if (stopRequested()) throw stoppedBy("; the port is closed");
  return status;
}

}  // namespace dorvane::host::cli
