// spectrometer_execute's command strings: the input up to its first NUL is the command, read as
// the driver and the host read it; what follows plays the bench while the driver runs it.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "dorvane_helpers.h"
#include "driver/driver.h"
#include "fuzz/fake_bench.h"
#include "tests/support/test_support.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* end = std::find(data, data + size, 0);
  const std::string command(data, end);
  const dorvane_command read = dorvane_read_command(command.c_str());
  if (read.kind < DORVANE_COMMAND_UNKNOWN || read.kind > DORVANE_COMMAND_WHOAREYOU) std::abort();
  if (read.fields < 0 || read.fields > 3 || (read.fields == 0) != (read.kind <= DORVANE_COMMAND_SETTINGS)) std::abort();
  if ((read.fields < 2 && read.first != 0) || (read.fields < 3 && read.second != 0)) std::abort();

  // "@path" loads a settings file, which the settings target covers without naming arbitrary files.
  if (read.kind == DORVANE_COMMAND_SETTINGS) return 0;
  const std::span<const std::uint8_t> rest(end == data + size ? end : end + 1, data + size);
  fuzz::FakeBench fake(rest);
  testing::CapturedDebugOutput debugOutput;
  driver::Driver driver({fake.clock, debugOutput, fake.peer, [] { return std::string(); }});
  (void)driver.execute(command.c_str());
  return 0;
}
