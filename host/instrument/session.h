// The steps every command that talks to the bench shares: the settings file, the bench opened for
// the command (and closed on every way out), and what its failures say.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/instrument/bench_driver.h"
#include "host/instrument/settings_file.h"

namespace dorvane::host {

// Checks the settings file (checkSettingsFile: one line for what is wrong, a warning on stderr for
// each unknown or repeated key) and hands it to the driver. Returns what the host needs of it.
CheckedSettings loadSettings(const std::string& iniPath, BenchDriver& driver = exportsDriver());

// The port as each side numbers it: "port=49 in the settings, port 48 in the driver's log" (the
// driver counts from 0; on Linux port=49 opens DORVANE_COM49's device, else /dev/ttyS48; on Windows
// COM49).
std::string portNumbers(const CheckedSettings& settings);

// What a failed opening of the port means for the user, naming the device the driver tried: e.g.
// "/dev/ttyUSB0 is in use by another program (...)".
std::string openFailure(std::int32_t result, const CheckedSettings& settings);

// A bench that was open and no longer answers, `when` (e.g. "during file 1's transfer"): the port
// went away (its device is gone: the virtual bench ended, a USB adapter was pulled) or the bench
// on it went silent, with what to do. E.g. "the port went away during file 1's transfer: /dev/pts/7
// (port=49 in the settings, port 48 in the driver's log) is gone (start the virtual bench again ...)".
std::string benchLost(const CheckedSettings& settings, const std::string& when);
// Whether the device behind the settings' port is gone.
bool portWentAway(const CheckedSettings& settings);

// spectrometer_open for the life of the object; the destructor closes, which also stops an
// acquisition that is still running. `driver` must outlive the object.
class OpenBench {
 public:
  // The failure line names the device behind `settings`' port and what to do about it.
  explicit OpenBench(const CheckedSettings& settings, BenchDriver& driver = exportsDriver());
  ~OpenBench();
  OpenBench(const OpenBench&) = delete;
  OpenBench& operator=(const OpenBench&) = delete;

  std::int32_t identity() const { return identity_; }
  // The setup text; asks the bench, so not while an acquisition runs. A failure says whether the
  // port went away or the bench stopped answering (benchLost).
  std::string setupText() const;

 private:
  CheckedSettings settings_;
  BenchDriver& driver_;
  std::int32_t identity_ = 0;
};

// The dates of the blocks in the bench's memory, newest first, as getRemoteDataList lists them; the
// bench must be open. Throws HostFailure when the list cannot be read.
std::vector<std::string> storedBlockDates(BenchDriver& driver = exportsDriver());

}  // namespace dorvane::host
