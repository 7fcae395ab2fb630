// A settings file as the driver and the host read it: the INI reader's section listing and its
// integers, the driver's settings load, and the host's check of the file before the driver sees it.
#include <string>

#include "driver/driver.h"
#include "fuzz/input_file.h"
#include "platform/ini.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"
#include "host/os/host_failure.h"
#include "host/instrument/settings_file.h"

using namespace dorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::writeInputFile("dorvane.ini", data, size);

  if (const auto entries = platform::readProfileSection("Settings", path.c_str())) {
    for (const platform::ProfileEntry& entry : *entries) {
      (void)platform::readProfileInt("Settings", entry.key.c_str(), 0, path.c_str());
    }
  }

  testing::VirtualClock clock;
  testing::ScriptedPeer peer{clock};
  testing::CapturedDebugOutput debugOutput;
  // With log=1 in the file the driver's log is written in the input folder.
  driver::Driver driver({clock, debugOutput, peer, [] { return (fuzz::inputFolder() / "libdorvane.so").string(); }});
  driver.loadSettings(path.c_str());

  try {
    (void)host::checkSettingsFile(path);
  } catch (const host::HostFailure&) {
    // A refused file is one line for the user; anything else thrown is a finding.
  }
  return 0;
}
