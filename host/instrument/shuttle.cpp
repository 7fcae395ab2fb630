#include "host/instrument/shuttle.h"

#include <iostream>

#include "host/instrument/driver_words.h"
#include "host/os/host_failure.h"

namespace dorvane::host {

std::optional<bool> benchHasShuttle(BenchDriver& driver) {
  const std::int32_t result = driver.execute("shuttle");
  if (result < 0) return std::nullopt;
  return result == 1;
}

void moveShuttle(int position, const std::string& why, BenchDriver& driver) {
  // The command string names position 1 with any argument but 0, which names position 2.
  const std::string command = position == 2 ? "shuttle 0" : "shuttle 1";
  std::cout << "moving the shuttle to position " << position << " (" << why << ") with \"" << command
            << "\"; the bench settles for 10 s" << std::endl;
  const CommandOutcome moved = commandOutcome(command, driver.execute(command.c_str()));
  if (moved.failed) throw HostFailure("the shuttle did not move to position " + std::to_string(position) + ": " + moved.meaning);
}

}  // namespace dorvane::host
