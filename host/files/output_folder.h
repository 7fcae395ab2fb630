// Where a command's files go: a folder made at the first save, each file set written whole or not
// at all, and what the user tells about the sample written into every file.
#pragma once

#include <string>

#include "host/files/formats.h"
#include "host/files/interferogram_files.h"
#include "host/files/spectrum_files.h"

namespace dorvane::host {

// What the user tells about the sample (--sample, --operator, --comment), written into every file.
struct RecordNotes {
  std::string sample, operatorName, comment;
};
void applyNotes(InterferogramRecord& record, const RecordNotes& notes);

// The files of a saved set, its notice that gnuplot is missing said once on stderr (`told`
// remembers); throws HostFailure with the set's failure line.
SavedFiles keptSet(const SavedSet& set, bool& told);

// Where the file sets of interferograms and their spectra go: <folder>/<stem> and each format's
// extension, each set written whole or not at all (formats.h).
class OutputFolder {
 public:
  // Proves that a file can be made in the folder, or in the folder it will be made in: nothing is
  // created until the first save, which makes the folder if needed (a bench that never answers
  // leaves no empty folder behind). With Existing::Keep no set replaces a file at one of its names
  // (--overwrite asks for Existing::Replace). `pictures`: the sets have pictures (none with --no-plot).
  OutputFolder(const std::string& folder, bool pictures, Existing existing = Existing::Keep);

  // The set of `stem`, or the members asked for of it. Throws HostFailure with the one line, e.g.
  // "cannot write PATH: the file exists (--overwrite replaces it)", nothing of the set written.
  // The pictures of a set whose data is saved are drawn with Existing::Keep: their names were the
  // set's when its data was written, so whatever stands there now is not the host's.
  SavedFiles save(const InterferogramRecord& record, const std::string& stem, SetMembers members = SetMembers::All);
  SavedFiles save(const SpectrumRecord& spectrum, const std::string& stem, SetMembers members = SetMembers::All);
  // "" or the line save would refuse the stem's set with as the folder stands now: for checking
  // the first name before an acquisition starts rather than after its first file.
  std::string inTheWay(const std::string& stem) const;
  const std::string& path() const { return folder_; }
  bool pictures() const { return pictures_; }

 private:
  std::string base(const std::string& stem) const;
  void make() const;
  Existing existingFor(SetMembers members) const { return members == SetMembers::Pictures ? Existing::Keep : existing_; }

  std::string folder_;
  bool pictures_;
  Existing existing_;
  bool plotterMissingTold_ = false;
};

}  // namespace dorvane::host
