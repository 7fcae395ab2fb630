// What the commands share on the command line: their registration, and the options several take.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/acquisition/session.h"
#include "host/acquisition/spectrum.h"
#include "host/live/live_view.h"

namespace dorvane::host::cli {

// The program's command line: each command registers its options and what runs it, which returns
// the exit status (or throws HostFailure).
struct CommandLine {
  CLI::App& app;
  std::vector<std::pair<CLI::App*, std::function<int()>>> commands;

  void add(CLI::App* command, std::function<int()> run) { commands.emplace_back(command, std::move(run)); }
};

// --ini FILE.
void addSettingsOption(CLI::App* command, std::string& ini);

// Where and how a command that saves files saves them.
struct OutputOptions {
  std::string folder = ".";
  bool noPlot = false;
  bool overwrite = false;
  RecordNotes notes;
  Existing existing() const { return overwrite ? Existing::Replace : Existing::Keep; }
};
// --out, --no-plot, --overwrite and the notes every saved file carries.
void addOutputOptions(CLI::App* command, OutputOptions& output);

// The processing options as given, and the ProcessingOptions they make.
struct ProcessingText {
  ProcessingOptions processing;
  std::string range;
  std::string ratio = "absorbance";
  // Throws HostFailure (bad options) for a --range that is not LO:HI.
  ProcessingOptions resolved() const;
};
// The processing options of the spectrum subcommand, acquire --spectrum and view.
void addProcessingOptions(CLI::App* command, ProcessingText& text);

// --live[=PORT] and --live-bind, for the subcommands that acquire.
void addLiveOptions(CLI::App* command, live::LiveViewOptions& options);

// The bench calls cannot be cut short: a Ctrl-C during one is honoured once it returns, with
// "stopped by Ctrl-C; the port is closed". Else `status`.
int afterBenchCalls(int status);

// The settings file's port for the virtual bench: its device is named in DORVANE_COM<port>.
inline constexpr int kVirtualBenchPort = 49;

// The commands, one source each.
void addInfoCommand(CommandLine& line);
void addAcquireCommand(CommandLine& line);
void addListCommand(CommandLine& line);
void addFetchCommand(CommandLine& line);
void addExecCommand(CommandLine& line);
void addSpectrumCommand(CommandLine& line);
void addSimCommand(CommandLine& line);
void addDemoCommand(CommandLine& line);
void addViewCommand(CommandLine& line);
void addPlotCommand(CommandLine& line);

}  // namespace dorvane::host::cli
