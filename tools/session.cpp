// The settings, the opened bench and the saved files, shared by the subcommands.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "dorvane.h"
#include "platform/ini.h"
#include "tools/host_failure.h"
#include "tools/session.h"

namespace dorvane::host {

void loadSettings(const std::string& iniPath) {
  std::ifstream file(iniPath);
  std::error_code error;
  if (!file || std::filesystem::is_directory(iniPath, error)) {
    const std::string reason = !file ? std::strerror(errno) : "it is a folder";
    throw HostFailure("cannot read the settings file " + iniPath + ": " + reason);
  }
  // The driver takes a relative path from the current folder, as we do; absolute reads plainer in its log.
  const std::string absolute = std::filesystem::absolute(iniPath, error).string();
  const std::int32_t result = spectrometer_execute(("@" + (error ? iniPath : absolute)).c_str());
  if (result != 0) throw HostFailure(callFailed("spectrometer_execute", result));
}

std::int32_t undersamplingInSettings(const std::string& iniPath) {
  return undersamplingOf(platform::readProfileInt("Settings", "lasersamp", 0, iniPath.c_str()));
}

OpenBench::OpenBench() {
  const std::int32_t result = spectrometer_open(0);
  if (result != 0) {
    spectrometer_close();
    const char* meaning = result == -1 ? "no such serial port, or no port= in the settings' [Settings] section"
                          : result == -2 || result == -3 ? "the bench did not send its setup (is it on and connected?)"
                                                         : nullptr;
    throw HostFailure(callFailed("spectrometer_open", result, meaning));
  }
  identity_ = spectrometer_execute("whoAreYou");
}

OpenBench::~OpenBench() { spectrometer_close(); }

std::string OpenBench::setupText() const {
  std::vector<char> text(1483 + 1, '\0');  // the export's documented size, and a terminator of our own
  const std::int32_t result = getSetup(text.data(), 0);
  if (result != 0) throw HostFailure(callFailed("getSetup", result) + " (" + text.data() + ")");
  return text.data();
}

OutputFolder::OutputFolder(const std::string& folder, bool plot, Existing existing)
    : folder_(folder), plot_(plot), existing_(existing) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw HostFailure("cannot create the output folder " + folder + ": " + error.message());
  // A trial file now, so that an acquisition never starts only to find that nothing can be saved.
  if (const std::string reason = folderRefusesFiles(folder); !reason.empty()) {
    throw HostFailure("cannot write into the output folder " + folder + ": " + reason);
  }
}

std::string OutputFolder::base(const std::string& stem) const { return (std::filesystem::path(folder_) / stem).string(); }

SavedFiles OutputFolder::save(const InterferogramRecord& record, const std::string& stem) {
  return keptSet(saveInterferogramSet(record, base(stem), plot_, existing_), plotterMissingTold_);
}

std::string OutputFolder::inTheWay(const std::string& stem) const {
  const std::string names = base(stem);
  return nameInTheWay({names + ".csv", names + ".jdx", names + ".png"}, existing_);
}

SavedFiles keptSet(const SavedSet& set, bool& told) {
  if (set.plotterMissing && !told) std::cerr << "dorvane: " << kNoPlotter << "\n";
  told = told || set.plotterMissing;
  if (!set.failure.empty()) throw HostFailure(set.failure);
  return set.files;
}

}  // namespace dorvane::host
