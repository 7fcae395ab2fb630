// dorvane info: the bench's identity and setup.
#include <iostream>
#include <string>

#include "dorvane.h"
#include "host/instrument/driver_words.h"
#include "host/instrument/session.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"

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
