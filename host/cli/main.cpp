// dorvane: the command-line host of the driver. It uses the driver as any host would, through
// dorvane.h and the shared library, to look at a bench, acquire and save interferograms, read the
// bench's stored blocks, and run the virtual bench.
#include <CLI/CLI.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>

#include "host/acquisition/acquire.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/files/interferogram_files.h"
#include "host/live/live_view.h"
#include "host/acquisition/spectrum.h"
#include "host/text/text.h"

namespace {

using namespace dorvane::host;

// The processing options of the spectrum subcommand and of acquire --spectrum.
void addProcessingOptions(CLI::App* command, ProcessingOptions& processing, std::string& range, std::string& ratio) {
  command->add_option("--ratio", ratio, "with --background: transmittance (S/B) or absorbance (-log10 S/B)")
      ->capture_default_str()
      ->check(CLI::IsMember({"transmittance", "absorbance"}));
  command->add_option("--apodization", processing.apodization, "the apodization function")
      ->capture_default_str()
      ->check(CLI::IsMember(apodizationNames()));
  command->add_option("--zero-fill", processing.zeroFill, "zero-filling factor: 1, 2, 4 or 8 (default 2)")
      ->check(CLI::IsMember({1, 2, 4, 8}));
  command->add_option("--phase", processing.phase, "phase correction: mertz, or power (the magnitude spectrum)")
      ->capture_default_str()
      ->check(CLI::IsMember({"mertz", "power"}));
  command->add_option("--phase-resolution", processing.phaseResolution,
                      "Mertz: the resolution of the phase, cm-1 (default 32)")
      ->check(CLI::PositiveNumber);
  command->add_option("--range", range, "write and draw only LO:HI cm-1, e.g. 400:4000");
}

// "interferogram-20261207-105326": each acquisition names its files after the moment it began.
std::string timedPrefix() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nowMs = static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  return utcTimeText("interferogram-%Y%m%d-%H%M%S", nowMs);
}

// What exec's help lists: each command and what its result means.
constexpr const char* kCommandResults =
    "Commands (words compare without regard to case; a word only has to begin the command, except reset and\n"
    "whoAreYou; what follows the number is ignored) and what their results mean:\n"
    "  shuttle           1: the bench has a shuttle; 0: it has none; -1: the bench could not be asked\n"
    "  shuttle N         move the shuttle to position 1 (N not 0) or 2 (N 0); 1: moved, -1: no shuttle, 0: failed\n"
    "  iris              1: the bench has an iris; 0: it has none; -1: the bench could not be asked\n"
    "  iris N            set the aperture to N; 1: set (or no iris fitted), 0: failed\n"
    "  mirror            1: the bench has a beam mirror; 0: it has none; -1: the bench could not be asked\n"
    "  mirror N          move the mirror to position 1 (N not 0) or 2 (N 0); 1: moved, -1: no mirror, 0: failed\n"
    "  movemotor M S     move motor 2 (M not 0) or 1 (M 0) by S steps; its new position, 0: failed\n"
    "  movemotor M       the position of motor 2 (M not 0) or 1; -1: not known\n"
    "  reset             reset the bench (it forgets its stored blocks); 1: done\n"
    "  whoAreYou         the bench found at the last opening: family << 16 | model; 0: none yet\n"
    "  @FILE             load the settings file FILE; 0\n"
    "A negative result of any but movemotor is the serial layer's code: the line says what it means.";

// --live[=PORT] and --live-bind, for the subcommands that acquire.
void addLiveOptions(CLI::App* command, live::LiveViewOptions& options) {
  command->add_option("--live", options.port,
                      "watch the run in a browser: serve its live view on 127.0.0.1:PORT (default " +
                          std::to_string(live::kDefaultLivePort) + "; 0: any free port) and, when the run is over, "
                          "until Ctrl-C")
      ->expected(0, 1)
      ->default_str(std::to_string(live::kDefaultLivePort))
      ->option_text("[=PORT]");
  command->add_option("--live-bind", options.bind,
                      "the address the live view listens on, e.g. 0.0.0.0 for every network (anyone who can reach it "
                      "can watch; default: loopback only)");
}

// The notes every saved file carries, for the subcommands that save.
void addNoteOptions(CLI::App* command, RecordNotes& notes) {
  command->add_option("--sample", notes.sample, "the sample's name, written into the files (and their JCAMP-DX title)");
  command->add_option("--operator", notes.operatorName, "who made the measurement, written into the files");
  command->add_option("--comment", notes.comment, "a comment written into the files");
}

int run(int argc, char** argv) {
  CLI::App app{"dorvane: look at an FTIR bench, acquire and save interferograms, read its stored data.\n"
               "The bench is reached through the settings file's port (see the README)."};
  app.require_subcommand(1);
  app.set_version_flag("--version", [] {
    const std::string library = driverLibraryPath();
    return std::string("dorvane ") + DORVANE_VERSION + (library.empty() ? "" : " (driver " + library + ")");
  });
  bool driverDebug = false;
  app.add_flag("--debug", driverDebug,
               "show the driver's debug lines (on Linux it sets DORVANE_DEBUG, which sends them to stderr; on "
               "Windows they go to a debugger)");
  std::string ini = "dorvane.ini";
  bool noPlot = false;
  bool overwrite = false;
  RecordNotes notes;
  std::string folder = ".";
  const auto settingsOption = [&ini](CLI::App* command) {
    command->add_option("--ini", ini, "the settings file (INI, section [Settings])")->capture_default_str();
  };
  const auto outputOptions = [&](CLI::App* command) {
    command->add_option("--out", folder, "the folder for the saved files")->capture_default_str();
    command->add_flag("--no-plot", noPlot, "save CSV and JCAMP-DX only, no PNG");
    command->add_flag("--overwrite", overwrite, "replace files of the same names (otherwise they are kept and nothing is written)");
    addNoteOptions(command, notes);
  };

  CLI::App* info = app.add_subcommand("info", "open the bench, print its identity and setup, close");
  settingsOption(info);

  AcquireOptions acquisition;
  ProcessingOptions acquisitionProcessing;
  CLI::App* acquireCommand = app.add_subcommand("acquire", "co-add files on the driver's thread and save each one");
  settingsOption(acquireCommand);
  outputOptions(acquireCommand);
  acquireCommand->add_option("--files", acquisition.files, "files to acquire; 0: until Ctrl-C")->check(CLI::NonNegativeNumber);
  acquireCommand->add_option("--scans", acquisition.scans, "scans co-added into each file")->check(CLI::PositiveNumber);
  acquireCommand->add_option("--points", acquisition.points,
                             "points per scan, 1 to " + std::to_string(kLargestPointsRequest) +
                                 " (the bench adds 64; default: the settings file's)")
      ->check(CLI::PositiveNumber);
  acquireCommand->add_option("--gain", acquisition.gain, "the gain code, 0 to 3 (default: the settings file's)")
      ->check(CLI::Range(0, 3));
  acquireCommand->add_option("--prefix", acquisition.prefix, "file names: PREFIX-001.csv ... (default: the start time)");
  acquireCommand->add_option("--timeout", acquisition.timeoutSeconds,
                             "seconds to wait for a file before giving up (default: twice what a file is expected to "
                             "take, and 30 s more)")
      ->check(CLI::PositiveNumber);

  CLI::App* list = app.add_subcommand("list", "list the blocks stored in the bench's memory");
  settingsOption(list);

  std::int32_t blockIndex = 0;
  CLI::App* fetch = app.add_subcommand("fetch", "fetch a stored block and save it");
  settingsOption(fetch);
  outputOptions(fetch);
  fetch->add_option("INDEX", blockIndex, "the block's number in 'dorvane list'")->required()->check(CLI::NonNegativeNumber);

  std::string command;
  CLI::App* exec = app.add_subcommand("exec", "run a command string, e.g. \"shuttle 1\", and explain its result");
  settingsOption(exec);
  exec->add_option("COMMAND", command, "the command string")->required();
  exec->footer(kCommandResults);

  SpectrumCommand spectrum;
  std::string range, ratio = "absorbance";
  CLI::App* spectrumCommand = app.add_subcommand(
      "spectrum", "turn interferogram files (dorvane's CSV or JCAMP-DX) into spectra: single beam, or with "
                  "--background absorbance (--ratio transmittance for transmittance)");
  spectrumCommand->add_option("FILE", spectrum.files, "the interferogram files")->required();
  spectrumCommand->add_option("--background", spectrum.background, "an interferogram of the open beam to ratio against");
  addProcessingOptions(spectrumCommand, spectrum.processing, range, ratio);
  spectrumCommand->add_option("--laser-wavenumber", spectrum.processing.laserWavenumber,
                              "the reference laser's wavenumber, cm-1 (default: the file's, else 15798)")
      ->check(CLI::PositiveNumber);
  spectrumCommand->add_option("--undersampling", spectrum.processing.undersampling,
                              "the undersampling ratio: 1, 2, 4 or 8 (default: the file's, else 2)")
      ->check(CLI::IsMember({1, 2, 4, 8}));
  spectrumCommand->add_option("--out", spectrum.folder, "the folder for the spectra (default: beside each file)");
  spectrumCommand->add_flag("--overwrite", spectrum.overwrite, "replace spectrum files that exist");
  spectrumCommand->add_flag("--no-plot", noPlot, "save CSV and JCAMP-DX only, no PNG");

  bool acquireSpectrum = false;
  std::string acquireBackground;
  acquireCommand->add_flag("--spectrum", acquireSpectrum, "save each file's spectrum beside it as well");
  acquireCommand->add_option("--background", acquireBackground,
                             "an interferogram of the open beam: the spectra are absorbance (implies --spectrum)");
  addProcessingOptions(acquireCommand, acquisitionProcessing, range, ratio);
  live::LiveViewOptions liveOptions;
  addLiveOptions(acquireCommand, liveOptions);

  std::vector<std::string> benchOptions;
  CLI::App* sim = app.add_subcommand("sim", "serve the virtual bench until Ctrl-C and say how to reach it");
  sim->add_option("BENCH-OPTIONS", benchOptions, "dorvane-benchsim's options, after --, e.g. -- --faults 0.01");
  sim->prefix_command();

  DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand(
      "demo", "the virtual bench with a polystyrene film: a background and a sample acquired, saved and drawn, and "
              "the absorbance with its bands");
  demoCommand->add_option("--out", demo.folder, "the folder for everything the demo writes")->capture_default_str();
  demoCommand->add_option("--scans", demo.scans, "scans per file")->capture_default_str()->check(CLI::PositiveNumber);
  addLiveOptions(demoCommand, liveOptions);

  live::ViewCommand view;
  CLI::App* viewCommand = app.add_subcommand(
      "view", "serve the live view of interferograms already saved in a folder (and of those saved there later) "
              "until Ctrl-C");
  viewCommand->add_option("FOLDER", view.folder, "the folder of the files")->required();
  viewCommand->add_option("--background", view.background, "an interferogram of the open beam to ratio against");
  addProcessingOptions(viewCommand, view.processing, range, ratio);
  viewCommand->add_option("--port", view.live.port, "the port to serve on (default " +
                                                         std::to_string(live::kDefaultLivePort) + "; 0: any free port)");
  viewCommand->add_option("--bind", view.live.bind, "the address to listen on (default: loopback only)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "dorvane: " << e.what() << " (dorvane --help lists the options)" << std::endl;
    return kExitUsage;
  }

  if (driverDebug) setEnvironment("DORVANE_DEBUG", "1");
  catchStopRequests();
  if (*info) showInfo(ini);
  const auto processingOptions = [&range, &ratio](ProcessingOptions& processing) {
    if (!range.empty()) processing.range = parseRange(range);
    processing.ratio = ratio == "transmittance" ? SpectrumKind::Transmittance : SpectrumKind::Absorbance;
  };
  if (*spectrumCommand) {
    processingOptions(spectrum.processing);
    spectrum.plot = !noPlot;
    return runSpectrumCommand(spectrum);
  }
  if (*viewCommand) {
    processingOptions(view.processing);
    if (!view.live.port) view.live.port = live::kDefaultLivePort;
    return live::runViewCommand(view);
  }
  if (*acquireCommand) {
    acquisition.settings = loadSettings(ini);
    acquisition.folder = folder;
    acquisition.plot = !noPlot;
    acquisition.overwrite = overwrite;
    acquisition.notes = notes;
    if (acquisition.prefix.empty()) acquisition.prefix = timedPrefix();
    // Each spectrum is made and saved on the saving thread, beside its interferogram, which it
    // replaces together with.
    std::optional<SpectrumMaker> maker;
    SpectrumSaver spectrumSaver(overwrite ? Existing::Replace : Existing::Keep, !noPlot);
    processingOptions(acquisitionProcessing);
    std::optional<InterferogramRecord> background;
    if (!acquireBackground.empty()) {
      background = readForSpectrum(acquireBackground, "the background ", acquisitionProcessing);
    }
    if (acquireSpectrum || background) {
      maker.emplace(acquisitionProcessing);
      if (background) maker->setBackground(*background, shownPath(acquireBackground));
    }
    // The live view shows each file's spectrum whether or not it is saved.
    std::optional<live::LiveRun> liveRun;
    std::optional<live::LiveView> liveView;
    if (liveOptions.port) {
      liveRun.emplace(live::LiveRun::Mode::Acquire, folder, acquisitionProcessing);
      if (background) liveRun->setBackground(*background, acquireBackground);
      liveView.emplace(*liveRun, liveOptions);
      acquisition.observer = &*liveRun;
    }
    const int status = live::runWithLiveView(liveRun ? &*liveRun : nullptr, liveView ? &*liveView : nullptr, [&] {
      const std::int32_t saved = acquire(acquisition, [&](const AcquiredFile& file) -> std::string {
        std::vector<std::string> paths{file.files.csv, file.files.jcamp, file.files.png};
        std::string more;
        if (maker) {
          const SpectrumRecord spectrum = maker->make(file.record, file.files.jcamp);
          const std::string folder = std::filesystem::path(file.files.jcamp).parent_path().string();
          const SavedFiles files = spectrumSaver.save(spectrum, folder, spectrumStem(file.files.jcamp, spectrum.kind));
          paths.insert(paths.end(), {files.csv, files.jcamp, files.png});
          more = "; " + std::string(spectrumKindName(spectrum.kind)) + ": " + files.csv;
        }
        if (liveRun) liveRun->saved(file.number, recordTimeText(file.record), file.files.jcamp, paths);
        return more;
      });
      std::cout << counted(saved, "file") << " saved in " << folder << std::endl;
    });
    // After the live view, a Ctrl-C was what ended it; without, one that came late still counts below.
    if (liveView) return status;
  }
  if (*list) listStoredBlocks(ini);
  if (*fetch) fetchStoredBlock(FetchOptions{ini, blockIndex, folder, !noPlot, overwrite, notes});
  if (*exec && !executeCommand(ini, command)) return kExitFailure;
  if (*sim) {
    // A bare "--" before the bench's options is the separator, not one of them.
    if (!benchOptions.empty() && benchOptions.front() == "--") benchOptions.erase(benchOptions.begin());
    serveVirtualBench(benchOptions);
  }
  if (*demoCommand) {
    // The demo's run on view: its absorbance over the range it draws.
    std::optional<live::LiveRun> liveRun;
    std::optional<live::LiveView> liveView;
    if (liveOptions.port) {
      liveRun.emplace(live::LiveRun::Mode::Acquire, demo.folder, demoProcessing());
      liveView.emplace(*liveRun, liveOptions);
      demo.live = &*liveRun;
    }
    const int status =
        live::runWithLiveView(liveRun ? &*liveRun : nullptr, liveView ? &*liveView : nullptr, [&] { runDemo(demo); });
    if (liveView) return status;
  }
  // The bench calls cannot be cut short: a Ctrl-C during one is honoured once it returns.
  if (stopRequested() && !*sim) throw stoppedBy("; the port is closed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const HostFailure& failure) {
    std::cerr << "dorvane: " << failure.what() << std::endl;
    return failure.exitStatus();
  } catch (const std::exception& error) {
    std::cerr << "dorvane: " << error.what() << std::endl;
    return kExitFailure;
  }
}
