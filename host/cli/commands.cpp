// What the commands share, and dorvane view, whose body is the live view's.
#include "host/cli/commands.h"

#include "host/live/live_view.h"
#include "host/os/host_os.h"

namespace dorvane::host::cli {

ProcessingOptions ProcessingArguments::resolved() const {
  ProcessingOptions resolved = processing;
  if (!range.empty()) resolved.range = parseRange(range);
  resolved.ratio = ratio == "transmittance" ? SpectrumKind::Transmittance : SpectrumKind::Absorbance;
  return resolved;
}

int afterBenchCalls(int status) {
  if (stopRequested()) throw stoppedBy("; the port is closed");
  return status;
}

// dorvane view is the live view's own (live::runViewCommand); here its arguments are only resolved.
int runView(ViewArguments& arguments) {
  arguments.view.processing = arguments.processing.resolved();
  if (!arguments.view.live.port) arguments.view.live.port = live::kDefaultLivePort;
  return live::runViewCommand(arguments.view);
}

}  // namespace dorvane::host::cli
