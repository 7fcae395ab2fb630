// The settings, the opened bench and the saved files, shared by the subcommands.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <fstream>
#include <iostream>
#include <vector>

#include "dorvane.h"
#include "platform/serial_port.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/acquisition/session.h"
#include "host/text/text.h"
#include "host/acquisition/driver_words.h"

namespace dorvane::host {

CheckedSettings loadSettings(const std::string& iniPath) {
  CheckedSettings settings = checkSettingsFile(iniPath);
  for (const std::string& warning : settings.warnings) std::cerr << "dorvane: " << warning << "\n";
  // The driver takes a relative path from the current folder, as we do; absolute reads plainer in its log.
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(iniPath, error).string();
  const std::int32_t result = spectrometer_execute(("@" + (error ? iniPath : absolute)).c_str());
  if (result != 0) throw HostFailure(callFailed("spectrometer_execute", result));
  return settings;
}

void applyNotes(InterferogramRecord& record, const RecordNotes& notes) {
  record.sample = notes.sample;
  record.operatorName = notes.operatorName;
  record.comment = notes.comment;
}

std::string openFailure(std::int32_t result, const CheckedSettings& settings) {
  // The file numbers ports from 1, the driver from 0.
  const std::string device = shownPath(platform::serialDevicePath(settings.port - 1));
  switch (result) {
    case -1:
      return device + " does not exist (the settings' port=" + std::to_string(settings.port) +
             "; on Linux DORVANE_COM" + std::to_string(settings.port) + " may name the device)";
    case DORVANE_ERROR_PORT_IN_USE:
      return device + " is in use by another program (another dorvane, a terminal program): close it and try again";
    case DORVANE_ERROR_PORT_DENIED:
      return device + ": Permission denied: add the user to the dialout group (sudo usermod -aG dialout $USER) and log in again";
    case DORVANE_ERROR_NOT_A_SERIAL_PORT:
      return device + " is not a serial port: point the settings' port at the bench's serial device";
    case -2:
    case -3:
      return "the bench on " + device + " did not send its setup (is it on, connected, and set to " +
             std::to_string(settings.baud) + " baud?)";
    default:
      return device + ": " + dorvane_error_text(result);
  }
}

OpenBench::OpenBench(const CheckedSettings& settings) {
  const std::int32_t result = spectrometer_open(0);
  if (result != 0) {
    spectrometer_close();
    throw HostFailure(callFailed("spectrometer_open", result, openFailure(result, settings).c_str()));
  }
  identity_ = spectrometer_execute("whoAreYou");
}

OpenBench::~OpenBench() { spectrometer_close(); }

std::string OpenBench::setupText() const {
  std::vector<char> text(DORVANE_SETUP_TEXT_SIZE + 1, '\0');  // and a terminator of our own
  const std::int32_t result = getSetup(text.data(), 0);
  if (result != 0) throw HostFailure(callFailed("getSetup", result) + " (" + text.data() + ")");
  return text.data();
}

std::vector<std::string> storedBlockDates() {
  std::vector<char> text(DORVANE_REMOTE_DATA_LIST_SIZE + 1, '\0');  // and a terminator of our own
  const std::int32_t result = getRemoteDataList(text.data());
  if (result != 0) throw HostFailure(callFailed("getRemoteDataList", result, result == 1 ? "the bench's status could not be read" : nullptr));
  std::vector<std::string> dates;
  std::istringstream lines(text.data());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) dates.push_back(line);
  }
  return dates;
}

OutputFolder::OutputFolder(const std::string& folder, bool pictures, Existing existing)
    : folder_(folder), pictures_(pictures), existing_(existing) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw HostFailure("cannot create the output folder " + folder + ": " + error.message());
  // A trial file now, so that an acquisition never starts only to find that nothing can be saved.
  if (const std::string reason = folderRefusesFiles(folder); !reason.empty()) {
    throw HostFailure("cannot write into the output folder " + folder + ": " + reason);
  }
}

std::string OutputFolder::base(const std::string& stem) const { return (std::filesystem::path(folder_) / stem).string(); }

SavedFiles OutputFolder::save(const InterferogramRecord& record, const std::string& stem, SetMembers members) {
  return keptSet(saveInterferogramSet(record, base(stem), pictures_, existingFor(members), members), plotterMissingTold_);
}

SavedFiles OutputFolder::save(const SpectrumRecord& spectrum, const std::string& stem, SetMembers members) {
  return keptSet(saveSpectrumSet(spectrum, base(stem), pictures_, existingFor(members), members), plotterMissingTold_);
}

std::string OutputFolder::inTheWay(const std::string& stem) const {
  return nameInTheWay(setNames(base(stem)), existing_);
}

SavedFiles keptSet(const SavedSet& set, bool& told) {
  // Written only when missing: the data's saves and the pictures' run on threads of their own.
  if (set.plotterMissing) {
    if (!told) std::cerr << "dorvane: " << kNoPlotter << "\n";
    told = true;
  }
  if (!set.failure.empty()) throw HostFailure(set.failure);
  return set.files;
}

}  // namespace dorvane::host
