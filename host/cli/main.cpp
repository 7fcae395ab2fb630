// dorvane: the command-line host of the driver. It uses the driver as any host would, through
// dorvane.h and the shared library, to look at a bench, acquire and save interferograms, read the
// bench's stored blocks, and run the virtual bench. This file parses and dispatches; each command
// is a source of its own.
#include <CLI/CLI.hpp>

#include <iostream>

#include "host/cli/options.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"

namespace {

using namespace dorvane::host;

int run(int argc, char** argv) {
  CLI::App app{"dorvane: look at an FTIR bench, acquire and save interferograms, read its stored data.\n"
               "The bench is reached through the settings file's port (see docs/host.md)."};
  app.require_subcommand(1);
  app.set_version_flag("--version", [] {
    const std::string library = driverLibraryPath();
    return std::string("dorvane ") + DORVANE_VERSION + (library.empty() ? "" : " (driver " + library + ")");
  });
  bool driverDebug = false;
  app.add_flag("--debug", driverDebug,
               "show the driver's debug lines (on Linux it sets DORVANE_DEBUG, which sends them to stderr; on "
               "Windows they go to a debugger)");
  cli::CommandLine line{app, {}};
  for (const auto add : {cli::addInfoCommand, cli::addAcquireCommand, cli::addListCommand, cli::addFetchCommand,
                         cli::addExecCommand, cli::addSpectrumCommand, cli::addSimCommand, cli::addDemoCommand,
                         cli::addViewCommand, cli::addPlotCommand}) {
    add(line);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "dorvane: " << e.what() << " (dorvane --help lists the options)" << std::endl;
    return kExitUsage;
  }

  if (driverDebug) setEnvironment("DORVANE_DEBUG", "1");
  catchStopRequests();
  for (const auto& [command, runCommand] : line.commands) {
    if (*command) return runCommand();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const HostFailure& failure) {
    std::cerr << "dorvane: " << failure.what() << std::endl;
    return failure.exitStatus();
  } catch (const std::exception& error) {
    std::cerr << "dorvane: " << error.what() << std::endl;
    return kExitFailure;
  }
}
