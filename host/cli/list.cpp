// dorvane list: the blocks stored in the bench's memory.
#include <iostream>
#include <string>
#include <vector>

#include "dorvane.h"
#include "host/acquisition/driver_words.h"
#include "host/acquisition/session.h"
#include "host/cli/options.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

namespace dorvane::host::cli {
namespace {

void listStoredBlocks(const std::string& iniPath) {
  OpenBench bench(loadSettings(iniPath));
  const std::vector<std::string> dates = storedBlockDates();
  if (dates.empty()) std::cout << "the bench holds no stored blocks\n";
  for (std::size_t i = 0; i < dates.size(); ++i) std::cout << i << "  " << dates[i] << "\n";
}

}  // namespace

void addListCommand(CommandLine& line) {
  auto ini = std::make_shared<std::string>("dorvane.ini");
  CLI::App* command = line.app.add_subcommand("list", "list the blocks stored in the bench's memory");
  addSettingsOption(command, *ini);
  line.add(command, [ini] {
    listStoredBlocks(*ini);
    return afterBenchCalls(0);
  });
}

}  // namespace dorvane::host::cli
