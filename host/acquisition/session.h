// The steps every subcommand shares: the settings file, the bench opened for the command (and closed
// on every way out), and an interferogram saved in each format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/interferogram_files.h"
#include "host/files/formats.h"
#include "host/files/plot.h"
#include "host/acquisition/settings_file.h"

namespace dorvane::host {

// Checks the settings file (checkSettingsFile: one line for what is wrong, a warning on stderr for
// each unknown or repeated key) and hands it to the driver. Returns what the host needs of it.
CheckedSettings loadSettings(const std::string& iniPath);

// What the user tells about the sample (--sample, --operator, --comment), written into every file.
struct RecordNotes {
  std::string sample, operatorName, comment;
};
void applyNotes(InterferogramRecord& record, const RecordNotes& notes);

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
// acquisition that is still running.
class OpenBench {
 public:
  // The failure line names the device behind `settings`' port and what to do about it.
  explicit OpenBench(const CheckedSettings& settings);
  ~OpenBench();
  OpenBench(const OpenBench&) = delete;
  OpenBench& operator=(const OpenBench&) = delete;

  std::int32_t identity() const { return identity_; }
  // The setup text; asks the bench, so not while an acquisition runs. A failure says whether the
  // port went away or the bench stopped answering (benchLost).
  std::string setupText() const;

 private:
  CheckedSettings settings_;
  std::int32_t identity_ = 0;
};

// The dates of the blocks in the bench's memory, newest first, as getRemoteDataList lists them; the
// bench must be open. Throws HostFailure when the list cannot be read.
std::vector<std::string> storedBlockDates();

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
