// The command line of dorvane-benchsim, the virtual bench as a program of its own. It is read into a
// plain record, apart from the program, so that the parsing can be checked without a pty.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/bench_link.h"
#include "sim/fault_plan.h"
#include "sim/instrument.h"

namespace dorvane::sim {

struct BenchsimOptions {
  InstrumentOptions instrument;  // its seed seeds the fault plan too: one number replays a session
  BenchLinkOptions link;
  double faultRate = 0;  // the chance of a fault per packet; 0: a clean line
  std::string linkPath;  // where to put a symlink to the pty's slave; empty: none
  bool reportBlocks = false;  // a line on stderr as each block's scan ends and as its data are asked for
};

// The faults drawn at `rate` per packet in each direction: a driver packet answered with a NAK or
// not answered at all; a reply packet sent with one byte damaged or one byte lost. Never more than
// one damaged byte in a packet, since the 16-bit additive checksum misses some pairs.
FaultOdds lineFaultOdds(double rate);

struct CommandLine {
  std::optional<BenchsimOptions> options;  // none: the program ends at once with exitCode
  int exitCode = 0;
  std::string message;  // with no options: the help for stdout (exit 0), or one error line for stderr
};

// `arguments` are those after the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace dorvane::sim
