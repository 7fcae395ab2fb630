// The settings, the opened bench and its failures in words, shared by the commands.
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <iostream>
#include <vector>

#include "dorvane_helpers.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/instrument/session.h"
#include "host/text/text.h"
#include "host/instrument/driver_words.h"

namespace dorvane::host {

CheckedSettings loadSettings(const std::string& iniPath, BenchDriver& driver) {
  CheckedSettings settings = checkSettingsFile(iniPath);
  for (const std::string& warning : settings.warnings) std::cerr << "dorvane: " << warning << "\n";
  // The driver takes a relative path from the current folder, as we do; absolute reads plainer in its log.
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(iniPath, error).string();
  const std::int32_t result = driver.execute(("@" + (error ? iniPath : absolute)).c_str());
  if (result != 0) throw HostFailure(callFailed("spectrometer_execute", result));
  return settings;
}

namespace {

// The device the driver opens for the settings' port, as a line shows it.
std::string deviceOf(const CheckedSettings& settings) {
  std::string device(dorvane_serial_device(settings.port, nullptr, 0) + 1, '\0');
  device.resize(std::max(dorvane_serial_device(settings.port, device.data(), device.size()), 0L));
  return device;
}

}  // namespace

std::string portNumbers(const CheckedSettings& settings) {
  return "port=" + std::to_string(settings.port) + " in the settings, port " + std::to_string(settings.port - 1) +
         " in the driver's log";
}

std::string openFailure(std::int32_t result, const CheckedSettings& settings) {
  const std::string device = shownPath(deviceOf(settings));
  switch (result) {
    case DORVANE_OPEN_NO_PORT:
      return device + " does not exist (" + portNumbers(settings) + "; on Linux DORVANE_COM" + std::to_string(settings.port) +
             " names its device, /dev/ttyS" + std::to_string(settings.port - 1) + " without it)";
    case DORVANE_ERROR_PORT_IN_USE:
      return device + " is in use by another program (another dorvane, a terminal program): close it and try again";
    case DORVANE_ERROR_PORT_DENIED:
      return device + ": Permission denied: add the user to the dialout group (sudo usermod -aG dialout $USER) and log in again";
    case DORVANE_ERROR_NOT_A_SERIAL_PORT:
      return device + " is not a serial port: point the settings' port at the bench's serial device";
    case DORVANE_OPEN_SETUP_NOT_SENT:
    case DORVANE_OPEN_SETUP_NOT_RECEIVED:
      return "the bench on " + device + " did not send its setup (is it on, connected, and set to " +
             std::to_string(settings.baud) + " baud?)";
    default:
      return device + ": " + dorvane_error_text(result);
  }
}

bool portWentAway(const CheckedSettings& settings) { return !serialDeviceExists(deviceOf(settings)); }

std::string benchLost(const CheckedSettings& settings, const std::string& when) {
  const std::string where = shownPath(deviceOf(settings)) + " (" + portNumbers(settings) + ")";
  if (portWentAway(settings)) {
    return "the port went away " + when + ": " + where + " is gone (start the virtual bench again and set DORVANE_COM" +
           std::to_string(settings.port) + " to the device it names, or plug the bench's serial cable back in)";
  }
  return "the bench on " + where + " stopped answering " + when +
         " (check that it is on and its cable is in; a virtual bench, that it still runs; the driver's log tells more)";
}

OpenBench::OpenBench(const CheckedSettings& settings, BenchDriver& driver) : settings_(settings), driver_(driver) {
  const std::int32_t result = driver_.open(0);
  if (result != 0) {
    driver_.close();
    throw HostFailure(callFailed("spectrometer_open", result, openFailure(result, settings).c_str()));
  }
  identity_ = driver_.execute("whoAreYou");
}

OpenBench::~OpenBench() { driver_.close(); }

std::string OpenBench::setupText() const {
  std::vector<char> text(DORVANE_SETUP_TEXT_SIZE + 1, '\0');  // and a terminator of our own
  const std::int32_t result = driver_.getSetup(text.data());
  if (result != 0) {
    // The port opened a moment ago: a refusal now is another program's, anything else a bench gone.
    const bool refused = result == DORVANE_ERROR_PORT_IN_USE || result == DORVANE_ERROR_PORT_DENIED ||
                         result == DORVANE_ERROR_NOT_A_SERIAL_PORT || result == DORVANE_ERROR_PORT_BUSY;
    const std::string meaning = refused ? openFailure(result, settings_) : benchLost(settings_, "as the bench's setup was asked for");
    throw HostFailure(callFailed("getSetup", result, meaning.c_str()));
  }
  return text.data();
}

std::vector<std::string> storedBlockDates(BenchDriver& driver) {
  std::vector<char> text(DORVANE_REMOTE_DATA_LIST_SIZE + 1, '\0');  // and a terminator of our own
  const std::int32_t result = driver.getRemoteDataList(text.data());
  if (result != 0) throw HostFailure(callFailed("getRemoteDataList", result, result == 1 ? "the bench's status could not be read" : nullptr));
  std::vector<std::string> dates;
  std::istringstream lines(text.data());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) dates.push_back(line);
  }
  return dates;
}

}  // namespace dorvane::host
