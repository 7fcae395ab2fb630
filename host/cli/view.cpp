// dorvane view: the live view of files already saved in a folder.
#include <string>

#include "host/cli/options.h"
#include "host/live/live_view.h"

namespace dorvane::host::cli {
namespace {

struct ViewText {
  live::ViewCommand view;
  ProcessingText processing;
};

}  // namespace

void addViewCommand(CommandLine& line) {
  auto options = std::make_shared<ViewText>();
  live::ViewCommand& view = options->view;
  CLI::App* command = line.app.add_subcommand(
      "view", "serve the live view of interferograms already saved in a folder (and of those saved there later) "
              "until Ctrl-C");
  command->add_option("FOLDER", view.folder, "the folder of the files")->required();
  command->add_option("--background", view.background, "an interferogram of the open beam to ratio against");
  addProcessingOptions(command, options->processing);
  command->add_option("--port", view.live.port, "the port to serve on (default " +
                                                     std::to_string(live::kDefaultLivePort) + "; 0: any free port)");
  command->add_option("--bind", view.live.bind, "the address to listen on (default: loopback only)");
  line.add(command, [options] {
    options->view.processing = options->processing.resolved();
    if (!options->view.live.port) options->view.live.port = live::kDefaultLivePort;
    return live::runViewCommand(options->view);
  });
}

}  // namespace dorvane::host::cli
