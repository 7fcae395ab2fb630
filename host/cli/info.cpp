// dorvane info: the bench's identity and setup.
#include <iostream>
#include <string>

#include "host/instrument/session.h"
#include "host/cli/commands.h"
#include "host/files/interferogram_files.h"

namespace dorvane::host::cli {

int runInfo(InfoArguments& arguments) {
  {
    OpenBench bench(loadSettings(arguments.iniPath));
    std::cout << "bench: " << benchName(bench.identity()) << " (whoAreYou " << bench.identity() << ")\n";
    std::cout << bench.setupText();
  }
  return afterBenchCalls(0);
}


}  // namespace dorvane::host::cli
