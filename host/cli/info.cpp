// dorvane info: the bench's identity and setup.
#include <iostream>
#include <string>

#include "dorvane.h"
#include "host/acquisition/driver_words.h"
#include "host/acquisition/session.h"
#include "host/cli/options.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

void showInfo(const std::string& iniPath) {
  OpenBench bench(loadSettings(iniPath));
  std::cout << "bench: " << benchName(bench.identity()) << " (whoAreYou " << bench.identity() << ")\n";
  std::cout << bench.setupText();
}

}  // namespace

void addInfoCommand(CommandLine& line) {
  auto ini = std::make_shared<std::string>("dorvane.ini");
  CLI::App* command = line.app.add_subcommand("info", "open the bench, print its identity and setup, close");
  addSettingsOption(command, *ini);
  line.add(command, [ini] {
    showInfo(*ini);
    return afterBenchCalls(0);
  });
}

}  // namespace dorvane::host::cli
