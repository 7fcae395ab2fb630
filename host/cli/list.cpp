// dorvane list: the blocks stored in the bench's memory.
#include <iostream>
#include <string>
#include <vector>

#include "host/instrument/session.h"
#include "host/cli/commands.h"
#include "host/os/host_os.h"

namespace dorvane::host::cli {

int runList(ListArguments& arguments) {
  {
    OpenBench bench(loadSettings(arguments.iniPath));
    const std::vector<std::string> dates = storedBlockDates();
    if (dates.empty()) std::cout << "the bench holds no stored blocks\n";
    for (std::size_t i = 0; i < dates.size(); ++i) std::cout << i << "  " << dates[i] << "\n";
  }
  return afterBenchCalls(0);
}


}  // namespace dorvane::host::cli
