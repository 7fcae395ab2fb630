// dorvane plot: the pictures of files already saved, drawn beside them.
#include "host/cli/options.h"
#include "host/cli/plot_command.h"

namespace dorvane::host::cli {

void addPlotCommand(CommandLine& line) {
  auto plot = std::make_shared<PlotCommand>();
  CLI::App* command = line.app.add_subcommand(
      "plot", "draw the PNG picture of saved interferogram or spectrum files (CSV or JCAMP-DX) beside them, e.g. those "
              "an acquisition had no time to draw");
  command->add_option("FILE", plot->files, "the saved files")->required();
  command->add_flag("--overwrite", plot->overwrite, "draw pictures that exist again (otherwise they are kept)");
  line.add(command, [plot] { return runPlotCommand(*plot); });
}

}  // namespace dorvane::host::cli
