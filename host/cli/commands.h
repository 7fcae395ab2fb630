// The commands of dorvane: each a source of its own with its arguments (XArguments) and the
// function that runs it (runX), which returns the exit status or throws HostFailure with one line.
// main.cpp puts them on the command line; nothing here knows the parser.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/acquisition/acquire.h"
#include "host/analysis/processing.h"
#include "host/live/live_view.h"
#include "host/files/output_folder.h"
#include "host/qualification/qualify.h"

namespace dorvane::host::cli {

// Where and how a command that saves files saves them.
struct OutputArguments {
  std::string folder = ".";
  bool noPlot = false;
  bool overwrite = false;
  RecordNotes notes;
  Existing existing() const { return overwrite ? Existing::Replace : Existing::Keep; }
};

// The processing options as given, and the ProcessingOptions they make.
struct ProcessingArguments {
  ProcessingOptions processing;
  std::string range;
  std::string ratio = "absorbance";
  // Throws HostFailure (bad options) for a --range that is not LO:HI.
  ProcessingOptions resolved() const;
};

// The bench calls cannot be cut short: a Ctrl-C during one is honoured once it returns, with
// "stopped by Ctrl-C; the port is closed". Else `status`.
int afterBenchCalls(int status);

// The settings file's port for the virtual bench: its device is named in DORVANE_COM<port>.
inline constexpr int kVirtualBenchPort = 49;

// info and list: the settings file is all they take.
struct InfoArguments {
  std::string iniPath = "dorvane.ini";
};
int runInfo(InfoArguments& arguments);
struct ListArguments {
  std::string iniPath = "dorvane.ini";
};
int runList(ListArguments& arguments);

struct FetchArguments {
  std::string iniPath = "dorvane.ini";
  std::int32_t index = 0;  // the block's place in the bench's list, newest first
  OutputArguments output;
};
// Saves the block as stored-block-<its time>.*: block numbers shift with every acquisition.
int runFetch(FetchArguments& options);

struct ExecArguments {
  std::string iniPath = "dorvane.ini";
  std::string command;
};
// Prints the result with its meaning; kExitFailure when the result tells of a failure.
int runExec(ExecArguments& options);
// What exec's help lists: each command and what its result means.
extern const char* const kCommandResults;

struct AcquireArguments {
  std::string ini = "dorvane.ini";
  OutputArguments output;
  AcquireOptions acquisition;
  ProcessingArguments processing;
  bool spectrum = false;
  std::string background;
  std::vector<std::string> tracks;  // NAME=LO:HI
  live::LiveViewOptions live;
};
int runAcquire(AcquireArguments& command);

struct SeriesArguments {
  std::string folder;
  std::vector<std::string> tracks;  // NAME=LO:HI
  std::string background;           // empty: single-beam spectra
  ProcessingArguments processing;
  std::string out;  // empty: FOLDER/PREFIX-series.csv
  bool overwrite = false;
};
// Writes the table whole or not at all: a foreign or unreadable file refuses the folder.
int runSeries(SeriesArguments& command);

struct SpectrumArguments {
  std::vector<std::string> files;
  std::string background;  // empty: single-beam spectra
  ProcessingArguments processing;
  std::string folder;  // empty: beside each file
  bool overwrite = false;
  bool noPlot = false;
  // --bands: each spectrum's bands within bandRange listed (and marked on its picture): the maxima
  // of its absorbance (a transmittance's minima) that stand out by bandProminence and, with
  // bandHeight, reach it, both in absorbance. The defaults are the demo's.
  bool bands = false;
  std::string bandRange = "600:4000";
  double bandProminence = 0.02;
  std::optional<double> bandHeight;
};
// Each file that cannot be read or processed gets one line on stderr and nothing written; the
// others are saved.
int runSpectrum(SpectrumArguments& command);

struct SimArguments {
  std::vector<std::string> benchOptions;  // dorvane-benchsim's own, after an optional "--"
};
// Serves the virtual bench until Ctrl-C.
int runSim(SimArguments& arguments);

struct DemoArguments {
  std::string folder = "dorvane-demo";
  std::int32_t scans = 16;
  std::vector<std::string> benchOptions;  // passed to dorvane-benchsim
  live::LiveViewOptions live;
  // --series: the filling gas cell, its time constant, the time between files and their number.
  bool series = false;
  // --qualify: the bench qualified healthy, then with its interferometer's mirror tilted.
  bool qualify = false;
  double fillTime = 20, every = 2;
  std::int32_t files = 30;
};
// The bounds of --series' options: the virtual bench's longest fill time, and what a rise with
// three unknowns needs.
inline constexpr double kLongestFillTime = 3600;
inline constexpr std::int32_t kLeastSeriesFiles = 4;
int runDemo(DemoArguments& options);
// How the demo makes its absorbance: the library's defaults, over the range of the film's bands.
ProcessingOptions demoProcessing();

struct ViewArguments {
  live::ViewCommand view;
  ProcessingArguments processing;
};
int runView(ViewArguments& arguments);

struct QualifyArguments {
  qualification::QualifyOptions qualify;
  std::string writeSettings;  // a file to write the default settings into, and nothing else
  live::LiveViewOptions live;
};
// The exit status: 0 every test passed, 1 a test failed, 2 and up the qualification could not run.
int runQualify(QualifyArguments& arguments);

// How the live view shows a qualification's spectra: its transmittance over the film's range.
ProcessingOptions qualificationView();

// A qualification's course on the live view, its files numbered on after `before` files of the run
// (the demo qualifies twice on one view).
class LiveQualification final : public qualification::QualificationObserver {
 public:
  LiveQualification(live::LiveRun& run, std::int32_t before);
  ~LiveQualification() override;
  AcquireObserver* acquisition(std::int32_t offset) override;
  void files(std::int32_t count) override;
  void step(const std::string& step) override;
  void background(const InterferogramRecord& record, const std::string& path) override;
  void verdict(const std::string& test, bool passed, const std::string& detail) override;
  void qualified(bool passed, const std::string& report) override;

 private:
  live::LiveRun& run_;
  std::int32_t before_;
  std::vector<std::unique_ptr<AcquireObserver>> observers_;
};

struct PlotArguments {
  std::vector<std::string> files;  // the host's interferogram or spectrum files, CSV or JCAMP-DX
  bool overwrite = false;          // draw a picture that exists again instead of keeping it
};
// Draws <FILE without its extension>.png beside each file, once for files of the same stem (x.csv
// and x.jdx). A picture that exists is kept and counted, not refused: the command is meant for globs
// over files of which some were drawn. A file that cannot be read or drawn is said on stderr and the
// others go on. A series table (PREFIX-series.csv) gets a picture a band, <FILE without its
// extension>-<BAND>.png. Returns 0 when every picture was drawn or kept, else kExitFailure; throws HostFailure
// when gnuplot is not installed (kNoPlotter) or at a stop request (between two files).
int runPlot(PlotArguments& command);

}  // namespace dorvane::host::cli
