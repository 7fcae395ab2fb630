#include "host/files/output_folder.h"

#include <filesystem>
#include <iostream>

#include "host/files/plot.h"
#include "host/files/whole_file.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host {

void applyNotes(InterferogramRecord& record, const RecordNotes& notes) {
  record.sample = notes.sample;
  record.operatorName = notes.operatorName;
  record.comment = notes.comment;
}

OutputFolder::OutputFolder(const std::string& folder, bool pictures, Existing existing)
    : folder_(folder), pictures_(pictures), existing_(existing) {
  // Nothing is made before the bench answers: a folder that does not exist yet is made at the first
  // save, and the folder it will go into takes the trial file meanwhile, so that an acquisition never
  // starts only to find that nothing can be saved.
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(folder, error);
  std::filesystem::path present = whole;
  while (!error && !std::filesystem::exists(present, error) && present.has_relative_path()) present = present.parent_path();
  if (error) throw HostFailure("cannot create the output folder " + shownPath(folder) + ": " + error.message());
  if (!std::filesystem::is_directory(present, error)) {
    throw HostFailure("cannot create the output folder " + shownPath(folder) + ": " + shownPath(present.string()) +
                      " is not a folder");
  }
  const std::string what = present == whole ? "write into" : "create";
  if (const std::string reason = folderRefusesFiles(present.string()); !reason.empty()) {
    throw HostFailure("cannot " + what + " the output folder " + shownPath(folder) + ": " + reason);
  }
}

std::string OutputFolder::base(const std::string& stem) const { return (std::filesystem::path(folder_) / stem).string(); }

void OutputFolder::make() const {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) throw HostFailure("cannot create the output folder " + shownPath(folder_) + ": " + error.message());
}

SavedFiles OutputFolder::save(const InterferogramRecord& record, const std::string& stem, SetMembers members) {
  make();
  return keptSet(saveInterferogramSet(record, base(stem), pictures_, existingFor(members), members), plotterMissingTold_);
}

SavedFiles OutputFolder::save(const SpectrumRecord& spectrum, const std::string& stem, SetMembers members) {
  make();
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
