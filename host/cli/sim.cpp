// dorvane sim: the virtual bench served until Ctrl-C.
#include <iostream>
#include <string>
#include <vector>

#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"

namespace dorvane::host::cli {

int runSim(SimArguments& arguments) {
  std::vector<std::string>& benchOptions = arguments.benchOptions;
  // A bare "--" before the bench's options is the separator, not one of them.
  if (!benchOptions.empty() && benchOptions.front() == "--") benchOptions.erase(benchOptions.begin());
  catchStopRequests();
  VirtualBench bench(benchOptions, "/dev/null");
  std::cout << "The virtual bench is serving on " << bench.device() << ".\n"
            << "Point the driver at it from another shell:\n"
            << "  export DORVANE_COM" << kVirtualBenchPort << "=" << bench.device() << "\n"
            << "  printf '[Settings]\\nport=" << kVirtualBenchPort << "\\nbaud=38400\\npoints=16384\\n' > bench.ini\n"
            << "  dorvane info --ini bench.ini\n"
            << "Ctrl-C stops the bench." << std::endl;
  const bool stopped = bench.waitWhileRunning();
  const int status = bench.stop();
  if (!stopped) throw HostFailure("the virtual bench ended by itself (status " + std::to_string(status) + ")");
  std::cout << "the virtual bench has stopped" << std::endl;
  return 0;
}


}  // namespace dorvane::host::cli
