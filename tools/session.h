// The steps every subcommand shares: the settings file, the bench opened for the command (and closed
// on every way out), and an interferogram saved in each format.
#pragma once

#include <cstdint>
#include <string>

#include "tools/interferogram_files.h"

namespace dorvane::host {

// Hands the settings file to the driver; a file that cannot be read fails here with one line, since
// the driver itself would take it as empty.
void loadSettings(const std::string& iniPath);
// The undersampling ratio of the settings file's `lasersamp` (undersamplingOf), read with the INI
// reader the driver uses, so that both take the file alike.
std::int32_t undersamplingInSettings(const std::string& iniPath);

// spectrometer_open for the life of the object; the destructor closes, which also stops an
// acquisition that is still running.
class OpenBench {
 public:
  OpenBench();
  ~OpenBench();
  OpenBench(const OpenBench&) = delete;
  OpenBench& operator=(const OpenBench&) = delete;

  std::int32_t identity() const { return identity_; }
  // The setup text; asks the bench, so not while an acquisition runs.
  std::string setupText() const;

 private:
  std::int32_t identity_ = 0;
};

// Where the files of one interferogram go: <folder>/<stem>.csv, .jdx and .png.
struct SavedFiles {
  std::string csv, jcamp, png;  // png empty when no plot was drawn
};

// What a save makes of its plot: the PNG's path when drawn; "" when gnuplot is missing, said once
// on stderr (`told` remembers); a HostFailure when drawing failed.
struct PlotResult;
std::string keptPlot(const PlotResult& plot, const std::string& png, bool& told);

class OutputFolder {
 public:
  // Creates the folder if needed and proves that a file can be written into it.
  OutputFolder(const std::string& folder, bool plot);

  SavedFiles save(const InterferogramRecord& record, const std::string& stem);
  const std::string& path() const { return folder_; }

 private:
  std::string folder_;
  bool plot_;
  bool plotterMissingTold_ = false;
};

}  // namespace dorvane::host
