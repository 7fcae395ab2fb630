// dorvane plot FILE...: the PNG pictures of saved interferograms and spectra, drawn after the fact
// beside their files (an acquisition that fetches files faster than gnuplot draws them skips some).
#pragma once

#include <string>
#include <vector>

namespace dorvane::host {

struct PlotCommand {
  std::vector<std::string> files;  // the host's interferogram or spectrum files, CSV or JCAMP-DX
  bool overwrite = false;          // draw a picture that exists again instead of keeping it
};

// Draws <FILE without its extension>.png beside each file, once for files of the same stem (x.csv
// and x.jdx). A picture that exists is kept and counted, not refused: the command is meant for globs
// over files of which some were drawn. A file that cannot be read or drawn is said on stderr and the
// others go on. Returns 0 when every picture was drawn or kept, else kExitFailure; throws HostFailure
// when gnuplot is not installed (kNoPlotter) or at a stop request (between two files).
int runPlotCommand(const PlotCommand& command);

}  // namespace dorvane::host
