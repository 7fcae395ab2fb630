// dorvane: the command-line host of the driver. It uses the driver as any host would, through
// dorvane.h and the shared library, to look at a bench, acquire and save interferograms, read the
// bench's stored blocks, and run the virtual bench. This file parses the command line and hands
// each command to its source (commands.h); only it knows the parser.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/cli/commands.h"
#include "host/files/file_text.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/qualification/qualification_settings.h"
#include "host/text/text.h"

namespace {

using namespace dorvane::host;
using namespace dorvane::host::cli;

// A command as registered: its place on the command line, and its arguments, which live as long as
// the command line does.
template <typename Arguments>
struct Registered {
  CLI::App* command;
  Arguments& arguments;
};

// The program's command line: each command's arguments and what runs it.
struct CommandLine {
  CLI::App& app;
  std::vector<std::pair<CLI::App*, std::function<int()>>> commands;

  template <typename Arguments>
  Registered<Arguments> add(const std::string& name, const std::string& description, int (*run)(Arguments&)) {
    auto arguments = std::make_shared<Arguments>();
    CLI::App* command = app.add_subcommand(name, description);
    commands.emplace_back(command, [arguments, run] { return run(*arguments); });
    return {command, *arguments};
  }
};

// What a numeric option takes, in the words its refusal gives: "a whole number from 0 (until
// stopped) to 2147483647", "a number of seconds above 0 and at most 86400", "1, 2, 4 or 8".
struct Allowed {
  double low = 0, high = 0;    // high: kNoEnd for no upper end
  bool aboveLow = false;       // low itself is refused (a time above 0)
  std::string lowMeans = {};   // what the low end stands for, e.g. "until stopped"
  std::string unit = {};       // "seconds": "a number of seconds"
  std::vector<int> only = {};  // the only values taken; low and high are then unused
  std::string note = {};       // after the range, e.g. why it ends there
};

constexpr double kNoEnd = std::numeric_limits<double>::infinity();
constexpr double kLargestInt32 = std::numeric_limits<std::int32_t>::max();
constexpr double kLargestTcpPort = 65535;
constexpr double kMostScans = 65535;         // the bench counts a file's scans in 16 bits
constexpr double kLongestWaitSeconds = 86400;  // a day: anything longer is a typo
constexpr double kMostStoredBlocks = 255;      // the lines getRemoteDataList's text holds at most

std::string allowedText(const Allowed& allowed, bool whole) {
  if (!allowed.only.empty()) {
    std::string text = "give ";
    for (std::size_t i = 0; i < allowed.only.size(); ++i) {
      text += (i == 0 ? "" : i + 1 == allowed.only.size() ? " or " : ", ") + std::to_string(allowed.only[i]);
    }
    return text + allowed.note;
  }
  std::string text = std::string("give a ") + (whole ? "whole number" : "number") + (allowed.unit.empty() ? "" : " of " + allowed.unit);
  const std::string low = numberText(allowed.low) + (allowed.lowMeans.empty() ? "" : " (" + allowed.lowMeans + ")");
  if (allowed.low == -kNoEnd) {
    // Any finite number.
  } else if (allowed.aboveLow) {
    text += " above " + low + (allowed.high == kNoEnd ? "" : " and at most " + numberText(allowed.high));
  } else if (allowed.high == kNoEnd) {
    text += " of at least " + low;
  } else {
    text += " from " + low + " to " + numberText(allowed.high);
  }
  return text + allowed.note;
}

// The number in `text` and nothing else; for a whole number, decimal only (CLI11 would read "010"
// as octal). A number too large for its type reads as infinity: out of range, not "no number".
std::optional<double> numberIn(std::string_view text, bool whole) {
  if (text.starts_with('+')) text.remove_prefix(1);
  const char* end = text.data() + text.size();
  long long wholeValue = 0;
  double value = 0;
  const auto [stop, error] = whole ? std::from_chars(text.data(), end, wholeValue) : std::from_chars(text.data(), end, value);
  if (stop != end || text.empty()) return std::nullopt;
  if (error == std::errc::result_out_of_range) return text.starts_with('-') ? -kNoEnd : kNoEnd;
  if (error != std::errc{}) return std::nullopt;
  if (whole) return static_cast<double>(wholeValue);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// A numeric option's refusal: its own whole line, which main prints as it is.
class BadNumber : public CLI::ParseError {
 public:
  explicit BadNumber(std::string line) : CLI::ParseError("BadNumber", std::move(line), CLI::ExitCodes::ConversionError) {}
};

template <typename T>
struct NumberOf {
  using type = T;
};
template <typename T>
struct NumberOf<std::optional<T>> {
  using type = T;
};

// Every numeric option of every command is added here: the value is read by the host, so a bad one
// is one line that names the option, the value and what it takes, e.g. "--files -1 is out of range:
// give a whole number from 0 (until stopped) to 2147483647".
template <typename Value>
CLI::Option* addNumber(CLI::App* command, const std::string& name, Value& value, const std::string& description,
                       const Allowed& allowed) {
  constexpr bool whole = std::is_integral_v<typename NumberOf<Value>::type>;
  CLI::Validator check(
      [name, allowed](std::string& text) -> std::string {
        const std::optional<double> number = numberIn(text, whole);
        const bool taken = number && (allowed.only.empty()
                                          ? (allowed.aboveLow ? *number > allowed.low : *number >= allowed.low) && *number <= allowed.high
                                          : std::find(allowed.only.begin(), allowed.only.end(), *number) != allowed.only.end());
        if (!taken) {
          const std::string why = !number ? (whole ? " is not a whole number: " : " is not a number: ")
                                          : allowed.only.empty() ? " is out of range: " : " is not allowed: ";
          // Not a ValidationError, which CLI11 would head with the option's name a second time.
          throw BadNumber(name + " " + printableAscii(text) + why + allowedText(allowed, whole));
        }
        // What CLI11 converts is the number as read here.
        text = whole ? std::to_string(static_cast<long long>(*number)) : numberText(*number);
        return {};
      },
      "");
  return command->add_option(name, value, description)->check(check);
}

void addSettingsOption(CLI::App* command, std::string& ini) {
  command->add_option("--ini", ini, "the settings file (INI, section [Settings])")->capture_default_str();
}

// --out, --no-plot, --overwrite and the notes every saved file carries.
void addOutputOptions(CLI::App* command, OutputArguments& output) {
  command->add_option("--out", output.folder, "the folder for the saved files")->capture_default_str();
  command->add_flag("--no-plot", output.noPlot, "save CSV and JCAMP-DX only, no PNG");
  command->add_flag("--overwrite", output.overwrite, "replace files of the same names (otherwise they are kept and nothing is written)");
  command->add_option("--sample", output.notes.sample, "the sample's name, written into the files (and their JCAMP-DX title)");
  command->add_option("--operator", output.notes.operatorName, "who made the measurement, written into the files");
  command->add_option("--comment", output.notes.comment, "a comment written into the files");
}

// Where a command's interferograms come from: the bench, whose sampling the acquisition knows, or
// saved files, whose sampling the user may correct.
enum class Interferograms { FromBench, Saved };

// The processing options of every command that makes spectra: spectrum, series, view and acquire
// (which takes the laser wavenumber and the undersampling ratio from its own acquisition).
void addProcessingOptions(CLI::App* command, ProcessingArguments& text, Interferograms from) {
  ProcessingOptions& processing = text.processing;
  command->add_option("--ratio", text.ratio, "with --background: transmittance (S/B) or absorbance (-log10 S/B)")
      ->capture_default_str()
      ->check(CLI::IsMember({"transmittance", "absorbance"}));
  command->add_option("--apodization", processing.apodization, "the apodization function")
      ->capture_default_str()
      ->check(CLI::IsMember(apodizationNames()));
  addNumber(command, "--zero-fill", processing.zeroFill, "zero-filling factor: 1, 2, 4 or 8 (default 2)", {.only = {1, 2, 4, 8}});
  command->add_option("--phase", processing.phase, "phase correction: mertz, or power (the magnitude spectrum)")
      ->capture_default_str()
      ->check(CLI::IsMember({"mertz", "power"}));
  addNumber(command, "--phase-resolution", processing.phaseResolution, "Mertz: the resolution of the phase, cm-1 (default 32)",
            {.low = 0, .high = kNoEnd, .aboveLow = true, .unit = "cm-1"});
  command->add_option("--range", text.range, "write and draw only LO:HI cm-1, e.g. 400:4000");
  if (from == Interferograms::FromBench) return;
  addNumber(command, "--laser-wavenumber", processing.laserWavenumber,
            "the reference laser's wavenumber, cm-1 (default: the file's, else 15798)",
            {.low = 0, .high = kNoEnd, .aboveLow = true, .unit = "cm-1"});
  addNumber(command, "--undersampling", processing.undersampling,
            "the undersampling ratio: 1, 2, 4 or 8 (default: the file's, else 2)", {.only = {1, 2, 4, 8}});
}

// --live[=PORT] and --live-bind, for the subcommands that acquire.
void addLiveOptions(CLI::App* command, live::LiveViewOptions& options) {
  addNumber(command, "--live", options.port,
                      "watch the run in a browser: serve its live view on 127.0.0.1:PORT (default " +
                          std::to_string(live::kDefaultLivePort) + "; 0: any free port) and, when the run is over, "
                          "until Ctrl-C", {.low = 0, .high = kLargestTcpPort, .lowMeans = "any free port"})
      ->expected(0, 1)
      ->default_str(std::to_string(live::kDefaultLivePort))
      ->option_text("[=PORT]");
  command->add_option("--live-bind", options.bind,
                      "the address the live view listens on, e.g. 0.0.0.0 for every network (anyone who can reach it "
                      "can watch; default: loopback only)");
}

// --track NAME=LO:HI, repeatable, for acquire, series and view.
void addTrackOption(CLI::App* command, std::vector<std::string>& tracks) {
  command->add_option("--track", tracks,
                      "follow a band: its area above the straight line through LO and HI cm-1, its peak height and "
                      "position, a row a file in PREFIX-series.csv (repeatable)")
      ->type_name("NAME=LO:HI");
}

// FOLDER, --background, --track and the processing options: view and series read a folder of saved
// interferograms alike.
void addSavedFolderOptions(CLI::App* command, std::string& folder, std::string& background,
                           std::vector<std::string>& tracks, ProcessingArguments& processing) {
  command->add_option("FOLDER", folder, "the folder of the files")->required();
  command->add_option("--background", background, "an interferogram of the open beam to ratio against");
  addTrackOption(command, tracks);
  addProcessingOptions(command, processing, Interferograms::Saved);
}

void addAcquisitionOptions(CLI::App* command, AcquireOptions& acquisition) {
  addNumber(command, "--files", acquisition.files, "files to acquire; 0: until Ctrl-C", {.low = 0, .high = kLargestInt32, .lowMeans = "until stopped"});
  addNumber(command, "--scans", acquisition.scans, "scans co-added into each file, 1 to " + numberText(kMostScans),
            {.low = 1, .high = kMostScans});
  addNumber(command, "--points", acquisition.points,
            "points per scan, 1 to " + std::to_string(kLargestPointsRequest) + " (the bench adds " +
                std::to_string(kBenchAddedPoints) + "; default: the settings file's)",
            {.low = 1, .high = kLargestPointsRequest, .note = pointsLimitNote()});
  addNumber(command, "--gain", acquisition.gain, "the gain code, 0 to 3 (default: the settings file's)", {.low = 0, .high = 3});
  command->add_option("--prefix", acquisition.prefix, "file names: PREFIX-001.csv ... (default: the start time)");
  addNumber(command, "--every", acquisition.everySeconds,
            "start a file every SECONDS, the first at once (a file that takes longer starts the next at once)",
            {.low = 0, .high = kLongestWaitSeconds, .aboveLow = true, .unit = "seconds", .note = " (a day)"})
      ->type_name("SECONDS");
  addNumber(command, "--timeout", acquisition.timeoutSeconds,
            "seconds to wait for a file before giving up (default: twice what a file is expected to take, and 30 s more)",
            {.low = 1, .high = kLongestWaitSeconds, .unit = "seconds", .note = " (a day)"});
}

void addInfoCommand(CommandLine& line) {
  auto [command, arguments] = line.add<InfoArguments>("info", "open the bench, print its identity and setup, close", runInfo);
  addSettingsOption(command, arguments.iniPath);
}

void addListCommand(CommandLine& line) {
  auto [command, arguments] = line.add<ListArguments>("list", "list the blocks stored in the bench's memory", runList);
  addSettingsOption(command, arguments.iniPath);
}

void addFetchCommand(CommandLine& line) {
  auto [command, arguments] = line.add<FetchArguments>("fetch", "fetch a stored block and save it", runFetch);
  addSettingsOption(command, arguments.iniPath);
  addOutputOptions(command, arguments.output);
  addNumber(command, "INDEX", arguments.index, "the block's number in 'dorvane list'",
            {.low = 0, .high = kMostStoredBlocks - 1, .lowMeans = "the newest",
             .note = " (the bench lists at most " + numberText(kMostStoredBlocks) + " blocks)"})
      ->required();
}

void addExecCommand(CommandLine& line) {
  auto [command, arguments] = line.add<ExecArguments>("exec", "run a command string, e.g. \"shuttle 1\", and explain its result",
                                                  runExec);
  addSettingsOption(command, arguments.iniPath);
  command->add_option("COMMAND", arguments.command, "the command string")->required();
  command->footer(kCommandResults);
}

void addSpectrumCommand(CommandLine& line) {
  auto [command, arguments] = line.add<SpectrumArguments>(
      "spectrum", "turn interferogram files (dorvane's CSV or JCAMP-DX) into spectra: single beam, or with "
                  "--background absorbance (--ratio transmittance for transmittance)",
      runSpectrum);
  command->add_option("FILE", arguments.files, "the interferogram files")->required();
  command->add_option("--background", arguments.background, "an interferogram of the open beam to ratio against");
  addProcessingOptions(command, arguments.processing, Interferograms::Saved);
  command->add_option("--out", arguments.folder, "the folder for the spectra (default: beside each file)");
  command->add_flag("--overwrite", arguments.overwrite, "replace spectrum files that exist");
  command->add_flag("--no-plot", arguments.noPlot, "save CSV and JCAMP-DX only, no PNG");
  command->add_flag("--bands", arguments.bands,
                    "with --background: list each spectrum's bands (maxima of absorbance, minima of transmittance), "
                    "position and height, and mark them on its picture");
  command->add_option("--band-range", arguments.bandRange,
                      "with --bands: where to look, LO:HI cm-1 (where a bench's light is weak, the ratio's noise "
                      "has peaks of its own)")
      ->capture_default_str();
  addNumber(command, "--band-prominence", arguments.bandProminence,
            "with --bands: how far a band stands out from its surroundings, in absorbance (a "
            "transmittance's bands are those of its absorbance, -log10 T)",
            {.low = 0, .high = kNoEnd})
      ->capture_default_str();
  addNumber(command, "--band-height", arguments.bandHeight,
            "with --bands: only bands whose absorbance reaches this (default: any)", {.low = -kNoEnd, .high = kNoEnd});
}

void addSimCommand(CommandLine& line) {
  auto [command, arguments] = line.add<SimArguments>(
      "sim", "serve the virtual bench until Ctrl-C and say how to reach it", runSim);
  command->add_option("BENCH-OPTIONS", arguments.benchOptions, "dorvane-benchsim's options, after --, e.g. -- --faults 0.01");
  command->prefix_command();
}

void addDemoCommand(CommandLine& line) {
  auto [command, arguments] = line.add<DemoArguments>(
      "demo", "the virtual bench with a polystyrene film: a background and a sample acquired, saved and drawn, and "
              "the absorbance with its bands",
      runDemo);
  command->add_option("--out", arguments.folder, "the folder for everything the demo writes")->capture_default_str();
  addNumber(command, "--scans", arguments.scans, "scans per file", {.low = 1, .high = kMostScans})->capture_default_str();
  command->add_flag("--series", arguments.series,
                    "a gas cell filling with CO2 instead: a file every few seconds, the 2349 cm-1 band followed, and "
                    "the time constant of its rise fitted (in FOLDER/series)");
  command->add_flag("--qualify", arguments.qualify,
                    "a performance qualification instead: the healthy virtual bench passes, then the same bench with "
                    "its interferometer's mirror tilted 40 µrad fails (in FOLDER/qualification)");
  addNumber(command, "--fill-time", arguments.fillTime, "with --series: the cell's time constant, seconds",
            {.low = 0, .high = kLongestFillTime, .aboveLow = true, .unit = "seconds", .note = " (the virtual bench's bound)"})
      ->capture_default_str();
  addNumber(command, "--every", arguments.every, "with --series: seconds from one file's start to the next",
            {.low = 0, .high = kLongestWaitSeconds, .aboveLow = true, .unit = "seconds", .note = " (a day)"})
      ->capture_default_str();
  addNumber(command, "--files", arguments.files, "with --series: files of the cell",
            {.low = kLeastSeriesFiles, .high = kLargestInt32, .note = " (a rise is fitted to at least 4)"})
      ->capture_default_str();
  addLiveOptions(command, arguments.live);
}

void addViewCommand(CommandLine& line) {
  auto [command, arguments] = line.add<ViewArguments>(
      "view", "serve the live view of interferograms already saved in a folder (and of those saved there later) "
              "until Ctrl-C",
      runView);
  live::ViewCommand& view = arguments.view;
  addSavedFolderOptions(command, view.folder, view.background, view.tracks, arguments.processing);
  command->get_option("--track")->description(
      "follow a band: its area above the straight line through LO and HI cm-1 in each file's spectrum, drawn "
      "against time (repeatable)");
  addNumber(command, "--port", view.live.port, "the port to serve on (default " + std::to_string(live::kDefaultLivePort) + "; 0: any free port)",
            {.low = 0, .high = kLargestTcpPort, .lowMeans = "any free port"});
  command->add_option("--bind", view.live.bind, "the address to listen on (default: loopback only)");
}

void addAcquireCommand(CommandLine& line) {
  auto [command, arguments] =
      line.add<AcquireArguments>("acquire", "co-add files on the driver's thread and save each one", runAcquire);
  addSettingsOption(command, arguments.ini);
  addOutputOptions(command, arguments.output);
  addAcquisitionOptions(command, arguments.acquisition);
  command->add_flag("--spectrum", arguments.spectrum, "save each file's spectrum beside it as well");
  command->add_option("--background", arguments.background,
                      "an interferogram of the open beam: the spectra are absorbance (implies --spectrum)");
  addTrackOption(command, arguments.tracks);
  addProcessingOptions(command, arguments.processing, Interferograms::FromBench);
  addLiveOptions(command, arguments.live);
}

void addSeriesCommand(CommandLine& line) {
  auto [command, arguments] = line.add<SeriesArguments>(
      "series", "the table of tracked bands (as acquire --track writes it) from the interferograms saved in a folder, "
                "in the order of their names",
      runSeries);
  addSavedFolderOptions(command, arguments.folder, arguments.background, arguments.tracks, arguments.processing);
  command->get_option("--track")->required();
  command->add_option("--out", arguments.out, "the table's file (default: FOLDER/PREFIX-arguments.csv)");
  command->add_flag("--overwrite", arguments.overwrite, "replace the table if it exists");
}

void addPlotCommand(CommandLine& line) {
  auto [command, arguments] = line.add<PlotArguments>(
      "plot", "draw the PNG picture of saved interferogram or spectrum files (CSV or JCAMP-DX) beside them, e.g. those "
              "an acquisition had no time to draw, and a series table's trend, a picture a band",
      runPlot);
  command->add_option("FILE", arguments.files, "the saved files, or PREFIX-series.csv")->required();
  command->add_flag("--overwrite", arguments.overwrite, "draw pictures that exist again (otherwise they are kept)");
}

void addQualifyCommand(CommandLine& line) {
  auto [command, arguments] = line.add<QualifyArguments>(
      "qualify", "a performance qualification of the bench with a polystyrene film (wavenumber accuracy, resolution, "
                 "100 % line, energy, repeatability), written as a report folder and a row of the bench's history; exit "
                 "0: every test passed, 1: a test failed, 2 and up: it could not run",
      runQualify);
  qualification::QualifyOptions& qualify = arguments.qualify;
  addSettingsOption(command, qualify.ini);
  command->add_option("--folder", qualify.folder, "where each run's folder and qualification-history.csv go")->capture_default_str();
  command->add_option("--settings", qualify.settings, "the limits and what is acquired (INI, section [Qualification]; "
                                                      "--write-settings writes one with every default)");
  command->add_option("--write-settings", arguments.writeSettings, "write the settings with their defaults and where each comes "
                                                                   "from into FILE, and do nothing else");
  addNumber(command, "--points", qualify.points, "points per interferogram (default: the bench's best)",
            {.low = 1, .high = kLargestPointsRequest});
  addNumber(command, "--scans", qualify.scans, "scans per interferogram (default: the settings', " + std::to_string(qualification::defaultSettings().scans) + ")", {.low = 1, .high = kMostScans});
  addNumber(command, "--samples", qualify.samples, "film measurements for the repeatability (default: the settings', " +
                std::to_string(qualification::defaultSettings().limits.repeat_samples) + ")",
            {.low = 2, .high = 100});
  command->add_option("--reference", qualify.reference, "the earlier run's folder whose energy this run is compared with "
                                                        "(default: the bench's first run in the history)");
  command->add_flag("--new-reference", qualify.newReference, "make this run the reference of the runs after it");
  command->add_option("--backgrounds", qualify.backgroundFiles, "instead of the bench: two interferograms of the open beam, "
                                                               "taken one after the other")->expected(2);
  command->add_option("--samples-from", qualify.sampleFiles, "instead of the bench: the film's interferograms")->expected(2, 100);
  command->add_option("--from", qualify.from, "remake the report of an earlier run's FOLDER from its raw files, into a new "
                                              "folder inside it");
  addLiveOptions(command, arguments.live);
}

int run(int argc, char** argv) {
  CLI::App app{"dorvane: look at an FTIR bench, acquire and save interferograms, read its stored data.\n"
               "The bench is reached through the settings file's port (see docs/host.md)."};
  app.require_subcommand(1);
  app.set_version_flag("--version", [] {
    const std::string library = driverLibraryPath();
    return std::string("dorvane ") + DORVANE_VERSION + (library.empty() ? "" : " (driver " + library + ")");
  });
  bool driverDebug = false;
  app.add_flag("--debug", driverDebug,
               "show the driver's debug lines (on Linux it sets DORVANE_DEBUG, which sends them to stderr; on "
               "Windows they go to a debugger)");
  CommandLine line{app, {}};
  for (const auto add : {addInfoCommand, addAcquireCommand, addListCommand, addFetchCommand, addExecCommand,
                         addSpectrumCommand, addSeriesCommand, addSimCommand, addDemoCommand, addViewCommand,
                         addPlotCommand, addQualifyCommand}) {
    add(line);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const BadNumber& e) {
    std::cerr << "dorvane: " << e.what() << std::endl;
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    std::cerr << "dorvane: " << e.what() << " (dorvane --help lists the options)" << std::endl;
    return kExitUsage;
  }

  if (driverDebug) setEnvironment("DORVANE_DEBUG", "1");
  catchStopRequests();
  for (const auto& [command, runCommand] : line.commands) {
    if (*command) return runCommand();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int status = kExitFailure;
  try {
    status = run(argc, argv);
  } catch (const HostFailure& failure) {
    awaitStopNotices();  // "stopping…" before "stopped by Ctrl-C"
    std::cerr << "dorvane: " << failure.what() << std::endl;
    return failure.exitStatus();
  } catch (const std::exception& error) {
    std::cerr << "dorvane: " << error.what() << std::endl;
  }
  awaitStopNotices();
  return status;
}
