// dorvane view: the live view of files already saved in a folder.
#include <string>

#include "host/cli/commands.h"
#include "host/live/live_view.h"

namespace dorvane::host::cli {

int runView(ViewText& options) {
  options.view.processing = options.processing.resolved();
  if (!options.view.live.port) options.view.live.port = live::kDefaultLivePort;
  return live::runViewCommand(options.view);
}


}  // namespace dorvane::host::cli
